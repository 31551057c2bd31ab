#!/usr/bin/python3
"""Opens the web remote's page in headless Chromium at a phone's size, holds
the button of one key for a while with a pointer, as a finger would, and
lets go; returns once the page shows the key stopped.

Usage: hold_web_key.py URL WINDOW KEY SECONDS [SCREENSHOT.png]
Exits 0 when the button was found and held, else 1 with the reason."""

import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait


def main():
    url, window, key, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
    screenshot = sys.argv[5] if len(sys.argv) > 5 else None
    profile = tempfile.TemporaryDirectory()
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--user-data-dir=" + profile.name):
        options.add_argument(argument)
    # A phone's screen: 390 by 844 CSS pixels at three device pixels each.
    options.add_experimental_option(
        "mobileEmulation", {"deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 3.0}})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        driver.get(url)
        wait = WebDriverWait(driver, 20)
        wait.until(lambda d: d.find_element(By.ID, "link").text == "connected")
        selector = 'section:nth-of-type(%d) button.key[data-key="%d"]' % (window + 1, key)
        button = wait.until(expected_conditions.element_to_be_clickable((By.CSS_SELECTOR, selector)))
        if screenshot:
            driver.save_screenshot(screenshot)
        # Notes whether the program's state, which comes over the WebSocket,
        # shows the key playing while it is held.
        driver.execute_script(
            "const b = arguments[0]; window.sawPlaying = false;"
            "new MutationObserver(() => { if (b.classList.contains('playing'))"
            " window.sawPlaying = true; }).observe(b, {attributes: true});", button)
        ActionChains(driver).click_and_hold(button).pause(seconds).release().perform()
        # Until the page shows the key stopped: a release that got lost would
        # let the clip play on meanwhile.
        wait.until(lambda d: "playing" not in button.get_attribute("class"))
        if not driver.execute_script("return window.sawPlaying"):
            raise RuntimeError("the page never showed the key playing")
    except Exception as error:  # noqa: BLE001 - any failure is the test's reason
        print("hold_web_key: %s" % (str(error).splitlines() or [repr(error)])[0])
        return 1
    finally:
        driver.quit()
    return 0


if __name__ == "__main__":
    sys.exit(main())

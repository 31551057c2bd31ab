# Writes one page of the manual: the page's text (PAGE) inside the head and
# tail that all pages share (ManualPage.html.in), titled by its first heading.
# cmake -DPAGE=<text> -DOUT=<page> -P ManualPage.cmake
file(READ "${PAGE}" text)
if(NOT text MATCHES "<h1>([^<]+)</h1>")
  message(FATAL_ERROR "${PAGE}: a page of the manual needs an <h1> heading, its title")
endif()
set(title "${CMAKE_MATCH_1}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/ManualPage.html.in" "${OUT}" @ONLY)

#pragma once
// The keyboard window: one complete instrument with its own set, player,
// video window, settings key and synchronization group. The first one is the
// program's main window; closing it ends the program, closing another only
// hides it, and a hidden window goes on playing its part in its group.
//
// The class is spread over several files by concern: morvela1.cpp (the
// window's life and frame), KeyboardWindowLayout.cpp (its controls),
// KeyTriggering.cpp (keys and the group dispatch), Transport.cpp (player
// notices, end-of-clip rules, Play, Stop, Loop, Sustain), Displays.cpp
// (display refresh, marks, volume, rate, Midi In, the key editor button) and
// KeyboardDrop.cpp (files dropped on the window, the empty set's hint).

#include "app/MiniMode.h"
#include "app/RefreshTimer.h"
#include "app/UpDown.h"
#include "controls/Lcd99.h"
#include "controls/MkRangeSlider.h"
#include "controls/cmpKeyboard.h"
#include "engine/cue/ArmedStart.h"
#include "midi/CMIDIInDevice.h"
#include "midi/MyReceiver.h"
#include "platform/WindowMessages.h"
#include "player/Tplayerbase.h"
#include "sets/Prop.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;
class QToolButton;
class TVideo1;

namespace waveform {
class PeakReader;
}

using controls::TKeys;
using controls::TLCD99;
using controls::TmkRangeSlider;

class TForm11 : public QWidget {
  Q_OBJECT
 public:
  // Start-up constructor: instance 0; the window appends itself to FormList.
  explicit TForm11(QObject* Owner);
  // New: instance n; the caller appends the window to FormList.
  TForm11(TForm11* Owner, int n);
  ~TForm11() override;

  // The display refresh ticks once per screen frame. Nobody sees more, and a
  // millisecond timer costs a window playing one clip twice the CPU (4 %
  // instead of 2 % of a core), idle windows four times as much.
  static constexpr int kRefreshIntervalMs = 15;

  // Makes the media graph of each window's player; unset, the real one.
  // Tests give windows scripted graphs through it.
  static std::function<std::shared_ptr<engine::MediaGraph>(int instance)> MakeGraph;

  // Members.
  int Instance = 0;
  TTuning* Tuning = nullptr;
  TVideo1* Video = nullptr;
  std::unique_ptr<TPlayer> Player;
  QLabel* HintWindow = nullptr;
  midi::MyReceiver Receiver;
  // Present while "Midi In" is on (and after a failed open, closed).
  std::unique_ptr<midi::CMIDIInDevice> MidiDevice;
  int CurrentKey = -1;
  bool KeyHeld = false;
  bool ClipLoaded = false;
  bool VolumeEnabled = true;
  bool SeekEnabled = true;
  int PositionScale = 10000;
  app::MiniModeState Mini;  // MiniMode, FullTop/Left/Height, MiniTop/Left
  int DragX = 0;
  int DragY = 0;
  QString VideoCaption;
  bool KeyPreview = false;
  // Skin option: the active look paints the window transparently.
  bool PaintTransparently = false;

  // Controls.
  QFrame* CoolPanel3;
  QLabel* Image1;
  QLabel* CoolLabel1;
  QLabel* CoolLabel2;
  QLabel* CoolLabel3;
  TLCD99* LcdCur;
  TLCD99* LcdTot;
  QToolButton* CoolCaptionBtn4;
  QToolButton* minimize;
  QToolButton* CoolCaptionBtn2;
  QToolButton* CoolCaptionBtn1;
  QPushButton* LKey1;
  QPushButton* Label1;
  QPushButton* CoolBtn1;
  QLineEdit* Group;
  TUpDown* UpDown1;
  QPushButton* CoolBtn2;
  QPushButton* Stop;
  QPushButton* CoolBtn3;
  QCheckBox* Loop;
  QCheckBox* Sustain;
  QCheckBox* MidiIn1;
  TLCD99* LcdMin;
  TLCD99* LcdMax;
  TLCD99* LcdCurp;
  TmkRangeSlider* Slider1;
  QFrame* Cool1;
  TKeys* Keys1;
  QSlider* CoolScrollbar1;
  QSlider* Rate1;
  app::RefreshTimer* Timer1;
  QTimer* KTHint;
  QTimer* Timer2;
  // Says what to do while no key of the set has a clip.
  QLabel* EmptySetHint = nullptr;

  // Handlers: the window's life and frame.
  void FormCreate();
  void FormShow();
  void FormCloseQuery(QObject* Sender, bool& CanClose);
  void FormDestroy();
  void Image1Click();
  void CoolCaptionBtn1Click();
  void CoolCaptionBtn2Click();
  void minimizeClick();
  // X, Y in the pressed control's coordinates; globalPos on the screen.
  void CoolPanel3MouseDown(QObject* Sender, Qt::MouseButton Button, int X, int Y, QPoint globalPos);
  void CoolPanel3MouseMove(QObject* Sender, Qt::MouseButtons Shift, int X, int Y, QPoint globalPos);
  void CoolLabel1Click() {}
  void FormActivate();
  void FormDeactivate();
  void StayTopClick();
  void UpDown1ChangingEx(QObject* Sender, bool& AllowChange, int NewValue,
                         TUpDownDirection Direction);

  // Keys and the group dispatch.
  void Keys1NoteOn(QObject* Sender, int note, int velocity);
  void Keys1NoteOff(QObject* Sender, int note, int velocity);
  void Keys1MouseOn(QObject* Sender, int note, int velocity);
  void PlayKey(QObject* Sender, int key, int group);
  // Plays a key in every window of this window's group, started together on
  // `baseNs` of the shared clock when one is given (a time agreed with the
  // other machines of a network group), else as soon as they can.
  void StartGroupPress(QObject* Sender, int note, std::optional<std::uint64_t> baseNs);
  // A key of the group released on another machine of its network group.
  void NetworkRelease(int note) { RunNoteOffDispatch(nullptr, note); }
  // Names what happened to the network group in the caption bar for a few
  // seconds.
  void ShowGroupNotice(const QString& notice) { ShowOutputNotice(notice); }
  void ReleaseKey(QObject* Sender, int key, int group);
  void LoadKeyRange(int key);
  // Names the clips of the set's keys to the player, which opens them
  // ahead; a moment after the set or a row's file changed.
  void CueKeys();
  // Publishes what a press of each key does now, for a note to start its
  // clip on the output before this thread plays it, with the clips' heads
  // read ahead; at once when the set or a row's file changed, and again as
  // the heads come in.
  void PublishArmedKeys();
  // A clip changed on disk since its head was read has it read again.
  void CheckHeadFiles();
  // The keyboard windows' dispatch order and groups, for arming a note on
  // every window of its group; `leaving` is left out.
  static void PublishArmingOrder(const TForm11* leaving = nullptr);
  // What is armed on any window is not played.
  static void WithdrawArmed();
  void ApplyRate();
  void ShowHintAtCursor(QLabel* hintWindow, const QString& text);
  void FormKeyPress(QObject* Sender, QChar Key);
  void FormKeyDown(QObject*, int, Qt::KeyboardModifiers) {}
  void FormKeyUp(QObject* Sender, int Key, Qt::KeyboardModifiers Shift);
  void LKey1MouseDown();
  void LKey1MouseUp();
  void KTHintTimer();
  void CoolBtn1Click();
  // Configuration's toggle of the set editor. A key without a clip shows it
  // with activate false: the window played in keeps the keyboard.
  void ToggleSetEditor(bool activate);

  // Player notices and the transport.
  // Handles WM_PLAYERNOTIFY by its code in LParam.
  void PlayerNotify(platform::WindowMessageEvent& message);
  void CoolBtn2Click();
  void StopClick();
  void StopGroupMember(QObject* Sender, int group);
  void LoopClick();
  void SustainClick();

  // Displays, marks, volume, rate, Midi In and the key editor button.
  void Timer1Timer();
  void Timer2Timer();
  void Slider1MinPosChange(QObject* Sender, int Value);
  void Slider1MaxPosChange(QObject* Sender, int Value);
  void Slider1PosChange(QObject* Sender, int Value);
  void CoolScrollbar2Change();
  void CoolScrollbar1MouseMove();
  void Rate1Change();
  void Rate1DblClick();
  void Rate1MouseMove();
  void MidiIn1Click();
  void CoolBtn3Click();

  // Files dropped on the window, after the drop returned: the first set file
  // among them opens as Open does; otherwise the clips go on key and the
  // keys after it, all or none (none when one can't be played).
  void DropFiles(const QStringList& files, int key);
  void UpdateEmptySetHint();

  // The group number: the integer value of the Group text.
  int GroupNumber() const;
  bool IsMainWindow() const { return Instance == 0; }
  // Writes the eight settings values (at every close request).
  void WriteSettings();
  QWidget* Owner() const { return owner_; }
  bool FirstShown() const { return firstShown_; }
  // True once construction and FormCreate are done: before that no timer or
  // handler of the window runs, even inside a message box's own event loop.
  bool IsWhole() const { return whole_; }
  // Text of the hint of a track bar (kept apart from Qt's tooltips, which
  // the bars must not show).
  QString BarHint(const QSlider* bar) const;

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  friend class KeyPreviewFilter;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildEmptySetHint();
  // The key of the set under a point of the window; -1 off the keys.
  int DropKeyAt(QPoint at) const;
  // The files of the drag under way, as its enter offered them: some drag
  // sources can no longer hand them over by the time of the drop.
  QStringList dragFiles_;
  TForm11(QWidget* owner, int instance, bool appendSelf);
  // The controls by panel, with their design values, then their bindings.
  void BuildControls();
  void BuildCaptionBar();
  void BuildTransportRow();
  void BuildPositionRow();
  void BuildKeyboard();
  void BuildSideBars();
  void BuildTimers();
  void ConnectControls();
  void ReadSettings();
  void RepaintFrame();
  void SetCaptionBarLabels();
  // The main window's close offers every other window's save question too,
  // so a Cancel there keeps the program running instead of losing the set.
  bool OfferOtherWindowsSave();
  void CloseForProgramEnd();

  void StopMidiDevice();
  // At the stop position: start again, stop, or let the clip rest.
  void EndOfClipRules();
  // Gives the player the rules' answer ahead, whenever what they read
  // changes: a loop is then made on time however busy this window is.
  void PublishEndOfClip();
  // Once, at the first clip played: tells the user when no sound output
  // could be opened.
  void WarnIfSoundGoesNowhere();
  // Tells, without a box, that the sound output was lost or is back.
  void TellAudioOutputChange();
  // Shows a change of output in the caption bar for a few seconds.
  void ShowOutputNotice(const QString& notice);
  static constexpr int kOutputNoticeMs = 5000;
  // How often the window looks for news of its own output (a missing JACK
  // port): soon enough to read, rarely enough to cost nothing.
  static constexpr int kOutputNoticePollMs = 500;
  QTimer* outputNotices_ = nullptr;
  void AttachSliderHandlers();
  void DetachSliderHandlers();
  // Stops the clip after the current one: each window's share of one note-off.
  void RunNoteOffDispatch(QObject* Sender, int note);
  // Reports a failure of the display refresh once, not at every tick.
  void ReportRefreshError(const QString& text);
  // A mark moved: the current key's row keeps it and the rate goes back to
  // 100. False when no key is current.
  bool StoreMark(int column, int value);
  void ShowMarks();

  QWidget* owner_ = nullptr;
  // Keys held down by MIDI notes; released when input stops, so no key stays
  // stuck when a cable is pulled or input moves to another window.
  std::set<int> midiHeld_;
  bool firstShown_ = false;
  // Set when the main window's close already asked this window's question.
  bool saveOffered_ = false;
  bool image1Pressed_ = false;
  bool image1Dragged_ = false;
  bool whole_ = false;
  QTimer* cueTimer_ = nullptr;
  QTimer* headFileTimer_ = nullptr;
  // The heads of the keys' clips, read ahead for their armed starts, and
  // the clips whose head could not be read.
  std::vector<std::shared_ptr<const engine::ClipHead>> heads_;
  std::set<std::string> headless_;
  int armedRate_ = 0;  // the output's rate the heads were last published for
  // Where the window's top-left lies from the mouse at the press: the drag
  // follows the mouse's screen position, whichever control it passes over.
  QPoint dragOffset_;
  bool dragging_ = false;
  bool refreshErrorShown_ = false;
  // The typed key played and not yet released, -1 when none.
  int typedKey_ = -1;
  bool audioOutputChecked_ = false;
  QString volumeHint_ = QStringLiteral("Volume");
  QString rateHint_ = QStringLiteral("Rate 100/100");
  // Reads the current key's waveform for the range slider's ruler, once the
  // key has stayed the current one for a moment.
  waveform::PeakReader* slidePeaks_ = nullptr;
  QTimer* slideWaveTimer_ = nullptr;
  QString slideWaveFile_;
  void ShowKeyWaveform(int key);
};

#pragma once
// TEdit1, the key editor: one window for all keyboard windows, in which
// clips are found in a folder tree and a file list, previewed, and assigned
// to the rows of a set.
//
// Attached to a visible set editor it edits that set editor's selected row
// (caption "Set Editor"); otherwise it is a file browser with a preview
// player (caption "Multimedia player"). While shown it owns a preview player
// and its video window (instance 99); hiding it destroys both, which ends
// any preview.

#include "editor/ShellBrowser.h"
#include "sets/RowEditor.h"

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;
class TPlayer;
class TTuning;
class TVideo1;
struct KeyRow;

namespace engine {
class MediaGraph;
}

namespace controls {
class TSlidePanel;
}

namespace waveform {
class PeakReader;
class WaveformView;
}  // namespace waveform

class TEdit1 : public QWidget, public RowEditor {
  Q_OBJECT
 public:
  explicit TEdit1(QWidget* parent = nullptr);
  // Writes the settings (FormDestroy).
  ~TEdit1() override;

  // The file list's mask: the classic eleven patterns, then the formats that
  // Linux users carry and the play path takes.
  static constexpr const char* kMask =
      "*.wav;*.mp3;*.mpg;*.dat;*.avi;*.dvx;*.divx;*.ogg;*.mid;*.kar;*.riff;"
      "*.flac;*.opus;*.oga;*.m4a;*.aac;*.aif;*.aiff;*.wma;*.mp4;*.mkv;*.webm;*.mov;*.mpeg;*.ogv";
  // The value beside the window's place that keeps the folder browsed last,
  // where the tree starts next time.
  static constexpr const char* kLastFolderValue = "efolder";
  // The preview's video window keeps its settings under this instance.
  static constexpr int kVideoInstance = 99;

  // Attaches to a set editor, or detaches with nullptr; nothing else.
  void SetTuning(TTuning* tuning);
  // The attached set editor; null once it is destroyed.
  TTuning* Tuning() const;
  // Decided at each show: attached to a set editor that was visible.
  bool SetEditorMode() const { return setEditorMode_; }
  // Shows a row's Label, File, Min, Max and Rate in the boxes; stores
  // nothing. Shown attached to a visible set editor, the boxes follow its
  // selected row by themselves.
  void ShowCells(const KeyRow& cells);

  // The set editor's Edit: attaches to `tuning`, shows its row and browses
  // the row's folder, then shows the window in set-editor mode.
  void EditRow(TTuning* tuning, int row) override;
  // A set editor was hidden: shown, the window turns into the player.
  void SetEditorHidden(TTuning* tuning) override;
  void SetEditorGone(TTuning* tuning) override;

  // Makes the preview player's media graph; unset, the player makes its own.
  // Benchmarks and tests set it to watch the graph.
  static std::function<std::shared_ptr<engine::MediaGraph>()> MakeGraph;

  // The preview, from show to hide; null while hidden.
  TPlayer* Player = nullptr;
  TVideo1* Video = nullptr;

  // Tool panel.
  QFrame* ToolPanel = nullptr;
  QPushButton* CoolBtn1 = nullptr;  // up one level
  QPushButton* CoolBtn4 = nullptr;  // "Add"
  QLabel* LabelCaption = nullptr;
  QLabel* FileCaption = nullptr;
  QLabel* MinCaption = nullptr;
  QLabel* MaxCaption = nullptr;
  QLabel* RateCaption = nullptr;
  QLineEdit* Label = nullptr;
  QLineEdit* SFil = nullptr;
  QLineEdit* Min = nullptr;
  QLineEdit* Max = nullptr;
  QLineEdit* Rate = nullptr;
  // Player panel.
  QFrame* CoolPanel1 = nullptr;
  QPushButton* CoolBtn2 = nullptr;  // play
  QPushButton* CoolBtn3 = nullptr;  // stop
  QSlider* CoolScrollbar1 = nullptr;
  QSlider* Slider1 = nullptr;
  QCheckBox* Auto = nullptr;
  // Browsing.
  controls::TSlidePanel* SlidePanel1 = nullptr;
  keyedit::TShellTree* Stv = nullptr;
  keyedit::TShellList* flist = nullptr;
  QTimer* Timer1 = nullptr;
  // The waveform under the tool panel: in set-editor mode the edited row's
  // clip with its marks, which set "Min" and "Max" as typing does; in player
  // mode the clip previewed.
  waveform::WaveformView* Waveform = nullptr;
  waveform::PeakReader* WaveReader = nullptr;
  // The file the waveform shows, empty for none.
  QString WaveformFile() const { return waveFile_; }

  // The controls that only set-editor mode shows: the five boxes, their
  // captions and "Add".
  QList<QWidget*> SetEditorControls() const;

  // Window events.
  void FormCreate();
  void FormDestroy();
  void FormShow();
  void FormHide();

  // Edits.
  void LabelChange();
  void MinChange();
  void MaxChange();
  void RateChange();

  // Browsing.
  void flistClick();
  void flistDblClick();
  void CoolBtn1Click();

  // Preview.
  void CoolBtn2Click();
  void CoolBtn3Click();
  void CoolScrollbar1Change();
  void Slider1Change();
  void Timer1Timer();

  // The preview player's notices.
  void PlayerNotify(int code);

  // The file behind an entry path: an archive's entry is extracted to the
  // cache first. Raises the player's missing-file error when it can't be.
  static QString PlayableFile(const QString& path);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void BuildToolPanel();
  // Places the boxes and the player panel across the tool panel's width.
  void LayOutToolPanel();
  // The set editor whose row is edited now: attached, visible, and with a
  // selected row; otherwise null.
  TTuning* EditedTuning() const;
  void CorrectAndStore(QLineEdit* box, int column, QString (*correct)(const QString&));
  void StoreBox(TTuning* tuning, int row, QLineEdit* box, int column,
                QString (*correct)(const QString&));
  void SetEditorRowChanged(int row, int previous);
  // The selected entry's full path, empty when nothing is selected.
  QString SelectedPath() const;
  void OpenInPlayer(const QString& path);
  void DestroyPreview();
  // The waveform's file: a row's stored File found on this machine.
  void ShowRowWaveform(const QString& stored);
  void ShowWaveformOf(const QString& file);
  void ShowMarksOnWaveform();
  void WaveformStartDragged(int value);
  void WaveformStopDragged(int value);
  void WaveformPlayFrom(int value);

  QPointer<QObject> tuning_;
  QMetaObject::Connection rowWatch_;
  bool setEditorMode_ = false;
  // The preview has a loaded clip whose position and volume can be read.
  bool clipLoaded_ = false;
  bool destroyed_ = false;
  // Placed clear of the keyboard windows at its first show; hidden and shown
  // again to change its mode, it keeps its place.
  bool placed_ = false;
  QString waveFile_;
};

// The one key editor, created at start-up.
extern TEdit1* Edit1;

// SPDX-License-Identifier: GPL-3.0-or-later
// TfrmOptions: the options dialog. It edits the global Settings record: the output folder,
// whether that folder is opened after a run, and the MP3 encoder settings; in a column beside
// them, the drive's read offset, the FLAC level, the tags, look-ups, rip log, naming pattern
// and number of encoders of MoreSettings. Create one for each
// use without an owner and exec() it: 1 after OK (the record then holds the dialog's values),
// 2 after Cancel, Esc or the close box. Default writes the start-up values into the record at
// once, whatever button closes the dialog. Nothing here writes the settings file.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <stdexcept>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

// Text that is not a decimal integer: "'<text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A value OK refuses (a read offset out of range, an empty naming pattern); the dialog stays
// open, as after a conversion error.
class EOptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TfrmOptions : public QDialog {
 public:
  // centreOver: the main window to centre over (no owner); may be null.
  explicit TfrmOptions(QWidget* centreOver = nullptr);

  // Shows a folder chooser starting at startFolder (empty: no particular folder) and returns
  // the folder confirmed, or nothing after Cancel. Empty: the real chooser is used.
  using TFolderBrowser = std::function<std::optional<QString>(QWidget* owner, const QString& startFolder)>;
  static TFolderBrowser FolderBrowser;
  // The real chooser: a directory dialog captioned "Browse for folder" showing the prompt.
  static std::optional<QString> BrowseForFolder(QWidget* owner, const QString& startFolder);

  // Handlers.
  void FormCreate();
  // Stores the controls into Settings, then MoreSettings, and closes with 1. Throws
  // EConvertError when a list mapped by value has no selection or the read offset is not a
  // number, EOptionError for a value out of range; the fields stored before that step keep
  // their new values and the dialog stays open.
  void OKClick();
  void btnDefaultClick();
  void CheckBox6Click();
  void SpeedButtonOutputDirClick();

  // The controls, named as the dialog's design names them.
  QGroupBox* GroupBox1;
  QLineEdit* EditOutputDir;
  QToolButton* SpeedButtonOutputDir;
  QCheckBox* CheckBoxOpen;
  QGroupBox* GroupBox2;
  QCheckBox* CheckBox6;  // Enable VBR
  QCheckBox* CheckBox7;  // Write VBR header
  QLabel* Label1;        // Sample Rate:
  QComboBox* ComboBox1;  // sample rate, by value
  QLabel* Label6;        // VBR Quality:
  QComboBox* ComboBox8;  // VBR quality, by index
  QLabel* Label2;        // Min. BitRate:
  QComboBox* ComboBox2;  // (minimum) bit rate, by value
  QLabel* Label3;        // Max. BitRate:
  QComboBox* ComboBox3;  // maximum bit rate, by value
  QLabel* Label4;        // Stereo Mode:
  QComboBox* ComboBox4;  // stereo mode, by index
  QLabel* Label5;        // MPEG Quality:
  QComboBox* ComboBox5;  // MPEG quality, by index
  QCheckBox* CheckBox3;  // Copyright
  QCheckBox* CheckBox4;  // Original
  QCheckBox* CheckBox5;  // CRC
  QCheckBox* CheckBox8;  // Private
  // Beside the described ones, in a column of their own (MoreSettings).
  QGroupBox* GroupBoxDrive;
  QLabel* LabelReadOffset;
  QLineEdit* EditReadOffset;   // [Drive] ReadOffset, samples, signed
  QLabel* LabelSamples;
  QGroupBox* GroupBoxFlac;
  QLabel* LabelFlacLevel;
  QComboBox* ComboBoxFlacLevel;  // [FLAC] Level, by index
  QLabel* LabelFlacHint;
  QGroupBox* GroupBoxFiles;
  QCheckBox* CheckBoxTags;     // [Tags] Full
  QCheckBox* CheckBoxLookup;   // [Lookup] Automatic
  QCheckBox* CheckBoxRipLog;   // [System] RipLog
  QLabel* LabelNamePattern;
  QComboBox* ComboBoxNamePattern;  // [System] NamePattern, editable
  QLabel* LabelJobs;
  QSpinBox* SpinJobs;          // [System] Jobs, 0: one encoder per core

  QPushButton* btnDefault;
  QPushButton* OK;
  QPushButton* BitBtn1;  // Cancel

 protected:
  void reject() override;  // Esc and the close box: modal result 2
};

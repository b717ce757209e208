// Helper unit of the console: message boxes, the executable's directory, GUIDs,
// the failure report for a command that raised, and the seams through which
// tests answer message boxes, modal dialogs and the file picker.
#pragma once

#include <QString>
#include <functional>

class QDialog;
class QIcon;
class QWidget;

// The application title, the caption of every box that has none of its own.
QString ApplicationTitle();
void SetApplicationTitle(const QString& ATitle);

// The program's fixed values: the message box kinds and the indices of the
// 16 x 16 icon set, as the window's texts and forms use them. They do not change.
enum TMsgBoxKind {
  mbPlain = 0,        // OK, no icon
  mbInformation = 1,  // OK, information
  mbQuestion = 2,     // OK and Cancel, question, Cancel by default
  mbWarning = 3,      // OK, warning: every input and state error
  mbError = 4,        // OK, error: the failure report
  mbErrorCancel = 5   // OK and Cancel, error
};
enum TConsoleIcon {
  icAddServer = 0,
  icAddTopic = 2,
  icUnsubscribe = 3,
  icServerProperties = 4,
  icConnect = 5,
  icDisconnect = 6,
  icPublish = 8,
  icDelete = 9,
  icSubscribe = 10,
  icServerRow = 12,
  icTopicRow = 15,
  icClear = 16,
  icPicture = 17,
  icLabel = 19,
  icReceipt = 20,
  icBuzzer = 22,
  icCutter = 23,
  // Beyond the fixed set: the connection state and the message log.
  icStateOff = 24,
  icStateBusy = 25,
  icStateOn = 26,
  icStateRefused = 27,
  icMessageLog = 28
};

// Shows a modal message box of the given kind and returns the pressed button:
// 1 for OK, 2 for Cancel, -1 for an unknown kind or when the box can't be shown.
// An empty caption is replaced by the application title.
int MsgBox(int AKind, const QString& ACaption, const QString& ABody);

// The directory of the running executable, ending with the path separator.
QString GetExePath();

// A new random GUID as 38 characters: braces, upper-case hexadecimal digits
// in groups of 8-4-4-4-12 joined by hyphens. Empty when no GUID can be made.
QString NewGuidStr();

// Reports a failure that escaped a command handler: an error box captioned
// with the application title; a full stop is appended when the message's
// last character sorts after ".".
void ReportFailure(const QString& AMessage);

// Runs one command handler; whatever it raises ends the command and is
// reported with ReportFailure. Nothing escapes into the event loop.
void RunCommand(const std::function<void()>& AHandler);

// Shows a dialog modally and returns its result (QDialog::Accepted or
// QDialog::Rejected).
int ShowModal(QDialog* ADialog);

// Runs AWork with Qt's own settings file (the "QtProject" one the file
// dialog writes its history to) kept in a folder that goes away afterwards:
// config.ini is the console's only persistent state.
void WithoutQtSettings(const std::function<void()>& AWork);

// Asks for a picture file to open, with a preview; empty when cancelled.
QString OpenPictureFile(QWidget* AParent);

// Asks for a file to write; empty when cancelled.
QString SaveFileName(QWidget* AParent, const QString& ACaption, const QString& AFilter);

// The icon with the given index from the console's 16 x 16 set.
QIcon ConsoleIcon(int AIndex);
// Registers the icon resources of the console library (before any form is set up).
void EnsureConsoleResources();

// Seams for tests and tools: each replaces the interactive part only.
namespace SFuncSeams {
// Answers message boxes: receives kind, effective caption and body; returns the button.
void SetMsgBoxHandler(std::function<int(int, const QString&, const QString&)> AHandler);
// Answers modal dialogs: receives the dialog, drives it, returns its result.
void SetModalHandler(std::function<int(QDialog*)> AHandler);
// Answers the picture picker: returns the chosen file name or empty for cancel.
void SetOpenPictureHandler(std::function<QString(QWidget*)> AHandler);
// Answers the save-file picker: returns the chosen file name or empty for cancel.
void SetSaveFileHandler(std::function<QString(QWidget*)> AHandler);
// Replaces the executable's directory (tests give each run its own folder).
void SetExePathOverride(const QString& APath);
}  // namespace SFuncSeams

// The message display's buffer: the lines of mmo_recv with their cap, and
// the entries waiting to be written into the widget. Appending to the widget
// costs a layout pass, so entries are written in batches, at most 20 ms after
// the first waiting one (and before anything reads the display).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QPlainTextEdit;
class QTimer;

class TRecvDisplay : public QObject {
  Q_OBJECT
 public:
  // AView holds AInitialLines lines when the buffer starts.
  TRecvDisplay(QPlainTextEdit* AView, int AInitialLines);

  // Appends one entry (line breaks of every form start new lines).
  void Append(const QString& AText);
  // Removes every line.
  void Clear();
  // Lines of the display, the entries not yet written included.
  int LineCount() const { return FLines; }
  // Writes the waiting entries into the widget.
  void Flush();
  // The display's lines (an empty display has none).
  QStringList Lines();

 private:
  QPlainTextEdit* FView;
  int FLines = 0;
  // Lines already in the widget.
  int FViewLines = 0;
  QStringList FPending;
  QTimer* FFlush;
};

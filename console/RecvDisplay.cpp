#include "RecvDisplay.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

TRecvDisplay::TRecvDisplay(QPlainTextEdit* AView, int AInitialLines)
    : QObject(AView),
      FView(AView),
      FLines(AInitialLines),
      FViewLines(AInitialLines),
      FFlush(new QTimer(this)) {
  FFlush->setSingleShot(true);
  FFlush->setInterval(20);
  connect(FFlush, &QTimer::timeout, this, &TRecvDisplay::Flush);
}

void TRecvDisplay::Append(const QString& AText) {
  // Plain text; every line break form starts a new line. The text widget
  // also breaks its lines at U+2029 and at its frame marks U+FDD0/U+FDD1, so
  // they count as line breaks too and the line count stays exact.
  QString text = AText;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  for (const char16_t brk : {u'\r', u'\u2029', u'\uFDD0', u'\uFDD1'})
    text.replace(QChar(brk), QLatin1Char('\n'));
  FLines += static_cast<int>(text.count(QLatin1Char('\n'))) + 1;
  FPending << text;
  if (!FFlush->isActive()) FFlush->start();
}

void TRecvDisplay::Clear() {
  FView->clear();
  FPending.clear();
  FLines = FViewLines = 0;
}

void TRecvDisplay::Flush() {
  FFlush->stop();
  if (FPending.isEmpty()) return;
  QString text = FPending.join(QLatin1Char('\n'));
  if (FViewLines > 0) text.prepend(QLatin1Char('\n'));
  FPending.clear();
  QTextCursor cursor(FView->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(text);
  FViewLines = FLines;
  // Keep the newest entry in view.
  QScrollBar* bar = FView->verticalScrollBar();
  bar->setValue(bar->maximum());
}

QStringList TRecvDisplay::Lines() {
  Flush();
  if (FLines == 0) return {};
  return FView->document()->toRawText().split(QChar(QChar::ParagraphSeparator));
}

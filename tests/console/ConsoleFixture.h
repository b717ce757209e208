// The console under test: its own config folder, message boxes, dialogs and
// the picture picker answered through their seams, and helpers to read and
// write config.ini as a person would.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

#include "f_main.h"

struct TShownBox {
  int Kind;
  QString Caption;
  QString Body;
};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The config folder (the executable's directory as the console sees it).
  QString Dir() const { return FDir.path() + QLatin1Char('/'); }
  QString ConfigPath() const { return Dir() + QStringLiteral("config.ini"); }
  void WriteConfig(const QString& AText);
  QString ReadConfig() const;
  bool ConfigExists() const;

  // The main window, shown (which loads the profile list).
  Tmain& Window();
  // Answers the next modal dialogs, in order; each returns the dialog's result.
  void AnswerDialogs(std::vector<std::function<int(QDialog*)>> AAnswers);
  // Boxes shown so far.
  std::vector<TShownBox> Boxes;
  // Kind 4 boxes (failure reports) shown so far.
  QStringList Failures() const;
  int DialogsShown = 0;

  QStringList Rows(const class TListBox* AList) const;

 private:
  QTemporaryDir FDir;
  std::unique_ptr<Tmain> FWindow;
  std::vector<std::function<int(QDialog*)>> FAnswers;
};

// A value of the config file as the console reads it.
QString IniValue(const QString& ASection, const QString& AKey);

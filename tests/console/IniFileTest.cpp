// config.ini: the INI service's reading and writing rules, the comma-list
// and integer reading rules, file modes and a refused write.
#include <sys/stat.h>

#include <QFile>
#include <QRegularExpression>

#include "ConfigFile.h"
#include "ConsoleFixture.h"
#include "ConsoleWidgets.h"
#include "SFunc.h"
#include "ui_f_main.h"

namespace {

struct TListCase {
  const char* Value;              // the stored `list` value (the line after "list=")
  std::vector<const char*> Rows;  // the profile rows the console shows
};

void PrintTo(const TListCase& ACase, std::ostream* AOut) { *AOut << "list=" << ACase.Value; }

class CommaListTest : public ConsoleTest, public ::testing::WithParamInterface<TListCase> {};

TEST_P(CommaListTest, ProfileRowsFollowTheListRule) {
  const TListCase& c = GetParam();
  WriteConfig(QStringLiteral("[system]\r\nlist=") + QString::fromUtf8(c.Value) + QStringLiteral("\r\n"));
  QStringList expected;
  for (const char* r : c.Rows) expected << QString::fromUtf8(r);
  Tmain& w = Window();
  EXPECT_EQ(Rows(w.Form()->lst_server), expected);
  EXPECT_EQ(w.Form()->lst_server->ItemIndex(), expected.isEmpty() ? -1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CommaListTest,
    ::testing::Values(TListCase{"office,lab,", {"office", "lab"}}, TListCase{"office", {}},
                      TListCase{"office,lab", {"office"}}, TListCase{"a b,", {"a", "b"}},
                      TListCase{"my office,", {"my", "office"}}, TListCase{"", {}},
                      TListCase{"  office , lab ,  ", {"office", "lab"}},
                      // quotes of the whole value are removed on reading, inner ones quote elements
                      TListCase{"\"office,lab,\"", {"office", "lab"}},
                      TListCase{"x\"a,b\",c,", {"x\"a", "b\"", "c"}}, TListCase{"\"a,b\",c,", {"a,b", "c"}},
                      TListCase{"\"say \"\"hi\"\"\",z,", {"say \"hi\"", "z"}}, TListCase{"\"open,", {}},
                      TListCase{",a,", {"", "a"}}, TListCase{"办公室,实验室,", {"办公室", "实验室"}}));

TEST(CommaList, SplitKeepsTheLastElementAndJoinAddsOneCommaEach) {
  EXPECT_EQ(SplitCommaList(QStringLiteral("office,lab,")), (QStringList{"office", "lab", ""}));
  EXPECT_EQ(SplitCommaList(QStringLiteral("office")), (QStringList{"office"}));
  EXPECT_EQ(JoinCommaList({"office", "lab"}), QStringLiteral("office,lab,"));
  EXPECT_EQ(JoinCommaList({}), QString());
}

// What a writer stores, a reader gets back whole; elements the reading rule
// takes as they stand are written without quotes, as older files hold them.
TEST(CommaList, EveryElementSurvivesARoundTrip) {
  struct TCase {
    QStringList Items;
    const char* Stored;
  };
  const TCase cases[] = {
      {{"office", "lab"}, "office,lab,"},
      {{"x\"a", "办公室"}, "x\"a,办公室,"},
      {{"Lab broker"}, "\"Lab broker\","},
      {{"a,b", "c"}, "\"a,b\",c,"},
      {{"\"quoted", "say \"hi\""}, "\"\"\"quoted\",\"say \"\"hi\"\"\","},
      {{"tab\there", " lead", "trail "}, "\"tab\there\",\" lead\",\"trail \","},
      {{"", "a"}, ",a,"},
  };
  for (const TCase& c : cases) {
    const QString stored = JoinCommaList(c.Items);
    EXPECT_EQ(stored, QString::fromUtf8(c.Stored));
    EXPECT_EQ(CommaListItems(stored), c.Items) << stored.toStdString();
  }
}

TEST_F(ConsoleTest, ValuesAreCutAt2047CharactersBeforeTheListIsSplit) {
  // 1023 elements "a," fill 2046 characters; "bcd," is cut after its "b".
  QString value;
  for (int i = 0; i < 1023; ++i) value += QStringLiteral("a,");
  WriteConfig(QStringLiteral("[system]\nlist=") + value + QStringLiteral("bcd,\n"));
  EXPECT_EQ(IniValue("system", "list").size(), 2047);
  const QStringList rows = Rows(Window().Form()->lst_server);
  EXPECT_EQ(rows.size(), 1023);
  EXPECT_FALSE(rows.contains(QStringLiteral("b")));
  EXPECT_FALSE(rows.contains(QStringLiteral("bcd")));
}

TEST_F(ConsoleTest, NamesMatchWithoutCaseAndValuesAreTrimmedAndUnquoted) {
  WriteConfig(
      QStringLiteral("; hand-written\n[Office]\n  Server = broker.local  \nPORT='1883'\nuser=\"  spaced  \"\n"
                     "half=\"open\nempty=\n[office2]\nserver=other\n"));
  EXPECT_EQ(IniValue("office", "server"), QStringLiteral("broker.local"));
  EXPECT_EQ(IniValue("OFFICE", "port"), QStringLiteral("1883"));
  EXPECT_EQ(IniValue("office", "user"), QStringLiteral("  spaced  "));
  EXPECT_EQ(IniValue("office", "half"), QStringLiteral("\"open"));
  EXPECT_EQ(IniValue("office", "empty"), QString());
  EXPECT_EQ(IniValue("office", "missing"), QStringLiteral("<missing>"));
  EXPECT_EQ(IniValue("nowhere", "server"), QStringLiteral("<missing>"));
  EXPECT_EQ(IniValue("office2", "server"), QStringLiteral("other"));
}

struct TIntCase {
  const char* Text;
  int Expected;  // with default 1883
};

void PrintTo(const TIntCase& ACase, std::ostream* AOut) { *AOut << "port=" << ACase.Text; }

class IniIntegerTest : public ConsoleTest, public ::testing::WithParamInterface<TIntCase> {};

TEST_P(IniIntegerTest, ReadsDecimalHexOrTheDefault) {
  WriteConfig(QStringLiteral("[p]\nport=") + QString::fromUtf8(GetParam().Text) + QStringLiteral("\n"));
  EXPECT_EQ(ConfigFile().ReadInteger("p", "port", 1883), GetParam().Expected) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(Values, IniIntegerTest,
                         ::testing::Values(TIntCase{"1884", 1884}, TIntCase{"0x75C", 1884},
                                           TIntCase{"0X75c", 1884}, TIntCase{"$75C", 1884},
                                           TIntCase{"x75C", 1884}, TIntCase{"-12", -12}, TIntCase{"+12", 12},
                                           TIntCase{"abc", 1883}, TIntCase{"", 1883}, TIntCase{"0x", 1883},
                                           TIntCase{"$", 1883}, TIntCase{"12a", 1883}, TIntCase{"1 2", 1883},
                                           TIntCase{"2147483647", 2147483647}, TIntCase{"2147483648", 1883},
                                           TIntCase{"-2147483648", -2147483647 - 1},
                                           TIntCase{"$FFFFFFFF", -1}, TIntCase{"$100000000", 1883}));

TEST_F(ConsoleTest, MissingKeyGivesTheDefault) {
  EXPECT_EQ(ConfigFile().ReadInteger("p", "port", 1883), 1883);
  WriteConfig(QStringLiteral("[p]\nserver=x\n"));
  EXPECT_EQ(ConfigFile().ReadInteger("p", "port", 1883), 1883);
}

TEST_F(ConsoleTest, WritesKeepOtherContentAndEraseAndDeleteRemoveOnlyTheirPart) {
  WriteConfig(QStringLiteral("; note\n[system]\nlist=a,b,\n\n[A]\nserver=h1\ntopic=t,\n\n[b]\nserver=h2\n"));
  TIniFile ini = ConfigFile();
  ini.WriteString("a", "port", "1");            // existing section, other case
  ini.WriteString("SYSTEM", "LIST", "a,b,c,");  // existing key keeps its spelling
  ini.WriteInteger("new", "port", 1883);
  ini.DeleteKey("a", "topic");
  ini.EraseSection("B");
  EXPECT_EQ(IniValue("a", "server"), QStringLiteral("h1"));
  EXPECT_EQ(IniValue("a", "port"), QStringLiteral("1"));
  EXPECT_EQ(IniValue("a", "topic"), QStringLiteral("<missing>"));
  EXPECT_EQ(IniValue("b", "server"), QStringLiteral("<missing>"));
  EXPECT_EQ(IniValue("new", "port"), QStringLiteral("1883"));
  const QString text = ReadConfig();
  EXPECT_TRUE(text.contains(QStringLiteral("; note")));
  EXPECT_TRUE(text.contains(QStringLiteral("list=a,b,c,")));
  EXPECT_EQ(text.count(QStringLiteral("[A]")), 1);
  EXPECT_FALSE(text.contains(QStringLiteral("[b]")));
}

TEST_F(ConsoleTest, AwkwardNamesKeepOneSectionAndLineBreaksNeverStartALine) {
  // Profile names are typed freely: each must read back from the one section
  // its writes went to, however often it is written.
  const QStringList names = {QStringLiteral(" lead"), QStringLiteral("trail "),     QStringLiteral("a]b"),
                             QStringLiteral("[x]"),   QStringLiteral("two\nlines"), QStringLiteral("  ")};
  TIniFile ini = ConfigFile();
  for (int i = 0; i < names.size(); ++i) {
    ini.WriteString(names[i], "server", QStringLiteral("first"));
    ini.WriteString(names[i], "server", QStringLiteral("h%1").arg(i));
    ini.WriteInteger(names[i], "port", i);
  }
  for (int i = 0; i < names.size(); ++i) {
    EXPECT_EQ(IniValue(names[i], "server"), QStringLiteral("h%1").arg(i)) << names[i].toStdString();
    EXPECT_EQ(ini.ReadInteger(names[i], "port", -1), i) << names[i].toStdString();
  }
  EXPECT_EQ(ReadConfig().count(QStringLiteral("server=")), names.size());

  // A value with line breaks stays on its line: it can't add keys or sections.
  ini.WriteString("p", "password", QStringLiteral("x\r\n[system]\nlist=evil,"));
  EXPECT_EQ(IniValue("system", "list"), QStringLiteral("<missing>"));
  EXPECT_EQ(IniValue("p", "password"), QStringLiteral("x  [system] list=evil,"));
}

TEST_F(ConsoleTest, ChineseNamesAndValuesReadBackAsWritten) {
  TIniFile ini = ConfigFile();
  ini.WriteString(QStringLiteral("办公室"), "password", QStringLiteral("密码 ä"));
  EXPECT_EQ(IniValue(QStringLiteral("办公室"), "password"), QStringLiteral("密码 ä"));
}

TEST_F(ConsoleTest, NewFileIsReadableByItsOwnerOnlyAndAnExistingFileKeepsItsMode) {
  ConfigFile().WriteString("p", "password", "secret");
  struct stat st {};
  ASSERT_EQ(stat(QFile::encodeName(ConfigPath()).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ASSERT_EQ(chmod(QFile::encodeName(ConfigPath()).constData(), 0640), 0);
  ConfigFile().WriteString("p", "server", "h");
  ConfigFile().EraseSection("q");
  ASSERT_EQ(stat(QFile::encodeName(ConfigPath()).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(IniValue("p", "password"), QStringLiteral("secret"));
}

TEST_F(ConsoleTest, RefusedWriteRaisesUnableToWriteWithTheFullPath) {
  // A folder that does not exist can't take the file, whoever runs the test.
  const QString missing = Dir() + QStringLiteral("gone");
  SFuncSeams::SetExePathOverride(missing);
  const QString expected = QStringLiteral("Unable to write to %1/config.ini").arg(missing);
  for (auto write : std::vector<std::function<void()>>{[] { ConfigFile().WriteString("p", "k", "v"); },
                                                       [] { ConfigFile().WriteInteger("p", "k", 1); },
                                                       [] { ConfigFile().EraseSection("p"); }}) {
    try {
      write();
      ADD_FAILURE() << "the write was not refused";
    } catch (const EIniFileError& e) {
      EXPECT_EQ(QString::fromUtf8(e.what()), expected);
    }
  }
  EXPECT_NO_THROW(ConfigFile().DeleteKey("p", "k"));
  EXPECT_EQ(ConfigFile().ReadString("p", "k", "d"), QStringLiteral("d"));
}

TEST_F(ConsoleTest, LinesACommandDoesNotChangeAreWrittenBackByteForByte) {
  // GBK and Latin-1 bytes (not UTF-8), LF and CR LF line ends mixed, and a
  // last line without a line break: every command that writes one key must
  // leave every other line exactly as it was.
  const QByteArray gbkName("\xb0\xec\xb9\xab\xca\xd2");  // 办公室 in GBK
  const QByteArray before = QByteArray("[system]\r\nlist=lab,") + gbkName +
                            ",\r\n[lab]\nserver=h1\npassword=p\xe4ss\xff\r\n\n[" + gbkName +
                            "]\r\npassword=\xc3\xdc\xc2\xeb\r\nusername=\xe9t\xe9";
  const auto write = [&](const QByteArray& AData) {
    QFile f(ConfigPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(AData);
  };
  const auto bytes = [&] {
    QFile f(ConfigPath());
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
  };
  struct TCase {
    const char* What;
    std::function<void()> Run;
    QByteArray Expected;
  };
  const std::vector<TCase> cases = {
      {"change a key", [] { ConfigFile().WriteString("lab", "server", "h2"); },
       QByteArray(before).replace("server=h1\n", "server=h2\r\n")},
      {"add a key to a section", [] { ConfigFile().WriteString("lab", "topic", QStringLiteral("t,")); },
       QByteArray(before).replace("\xff\r\n\n[", "\xff\r\ntopic=t,\r\n\n[")},
      {"add a section", [] { ConfigFile().WriteInteger("new", "port", 1883); },
       before + "\r\n\r\n[new]\r\nport=1883\r\n"},
      {"delete a key", [] { ConfigFile().DeleteKey("lab", "server"); },
       QByteArray(before).replace("server=h1\n", "")},
      {"erase a section", [] { ConfigFile().EraseSection("lab"); },
       QByteArray(before).replace("[lab]\nserver=h1\npassword=p\xe4ss\xff\r\n\n", "")},
  };
  for (const TCase& c : cases) {
    write(before);
    c.Run();
    EXPECT_EQ(bytes(), c.Expected) << c.What;
  }
  // The GBK section is found by its name and its GBK value reads as text.
  write(before);
  EXPECT_EQ(IniValue(QStringLiteral("办公室"), "password"), QStringLiteral("密码"));
}

}  // namespace

#include "console_bench_probe.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "f_main.h"
#include "ui_f_main.h"

double MsSinceProcessStart() {
  QFile stat(QStringLiteral("/proc/self/stat"));
  QFile uptime(QStringLiteral("/proc/uptime"));
  if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly)) return -1;
  const QByteArray s = stat.readAll();
  // Field 22 (starttime) counts clock ticks since boot; fields follow the ')' of the name.
  const QList<QByteArray> f = s.mid(s.lastIndexOf(')') + 2).split(' ');
  if (f.size() < 20) return -1;
  const double startS = f[19].toDouble() / static_cast<double>(sysconf(_SC_CLK_TCK));
  const double upS = uptime.readAll().split(' ').value(0).toDouble();
  return (upS - startS) * 1000.0;
}

namespace {

long RssKb() {
  QFile f(QStringLiteral("/proc/self/statm"));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  const QList<QByteArray> v = f.readAll().split(' ');
  return v.size() > 1 ? v[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

class TBenchProbe : public QObject {
 public:
  TBenchProbe(Tmain& AMain, QString AHost, int APort, QString ATopic, int ASeconds)
      : QObject(&AMain),
        FMain(AMain),
        FHost(std::move(AHost)),
        FPort(APort),
        FTopic(std::move(ATopic)),
        FSeconds(ASeconds) {}

  void Start() {
    if (qEnvironmentVariable("TESSIVA_BENCH_INSPECTOR") != QLatin1String("0")) FMain.btn_msglogClick();
    TNeloMQTTClient* c = FMain.nelomqtclnt1();
    c->SetClientID(("tessiva-bench-" + std::to_string(getpid())));
    c->SetBrokerHostName(FHost.toStdString());
    c->SetBrokerPort(FPort);
    c->Connect(true);
    auto* wait = new QTimer(this);
    connect(wait, &QTimer::timeout, this, [this, wait] {
      if (!FMain.nelomqtclnt1()->IsConnected()) return;
      wait->stop();
      FMain.nelomqtclnt1()->Subscribe(FTopic.toStdString(), qosAtMostOnce);
      // Let the SUBACK come back before the peer starts.
      QTimer::singleShot(300, this, [this] { Measure(); });
    });
    wait->start(10);
  }

 private:
  void Measure() {
    FMain.Form()->cbb_format_recv->setCurrentIndex(0);
    std::printf("READY\n");
    std::fflush(stdout);
    FClock.start();
    FLastTick = 0;
    auto* tick = new QTimer(this);
    tick->setTimerType(Qt::PreciseTimer);
    connect(tick, &QTimer::timeout, this, [this] { Tick(); });
    tick->start(kTickMs);
  }

  void Tick() {
    const qint64 now = FClock.elapsed();
    const qint64 stall = std::max<qint64>(0, now - FLastTick - kTickMs);
    FLastTick = now;
    const int second = static_cast<int>(now / 1000);
    const int phase = second < FSeconds ? 0 : 1;
    if (second != FSecond) {
      if (FSecond >= 0) Report(FSecond);
      FSecond = second;
      FSecondStall = 0;
      FSecondStart = FMain.ShownPublications();
      if (second == FSeconds) FMain.Form()->cbb_format_recv->setCurrentIndex(1);
      if (second >= 2 * FSeconds + 2) {
        Summary();
        QCoreApplication::quit();
        return;
      }
    }
    FSecondStall = std::max(FSecondStall, stall);
    if (second < 2 * FSeconds) FPhaseStall[phase] = std::max(FPhaseStall[phase], stall);
  }

  void Report(int ASecond) {
    const long long shown = FMain.ShownPublications() - FSecondStart;
    const int phase = ASecond < FSeconds ? 0 : 1;
    if (ASecond < 2 * FSeconds) {
      FPhaseShown[phase] += shown;
      FPhaseRss[phase][ASecond % FSeconds] = RssKb();
    }
    std::printf("second %d mode %s shown %lld stall_ms %lld rss_kb %ld lines %d\n", ASecond,
                phase ? "JSON" : "TEXT", shown, static_cast<long long>(FSecondStall), RssKb(),
                FMain.RecvLineCount());
    std::fflush(stdout);
  }

  void Summary() {
    for (int p = 0; p < 2; ++p) {
      const long first = FPhaseRss[p][std::min(4, FSeconds - 1)];
      const long last = FPhaseRss[p][FSeconds - 1];
      std::printf("summary mode %s shown_per_s %.0f max_stall_ms %lld rss_kb_at_5s %ld rss_kb_at_end %ld\n",
                  p ? "JSON" : "TEXT", static_cast<double>(FPhaseShown[p]) / FSeconds,
                  static_cast<long long>(FPhaseStall[p]), first, last);
    }
    std::printf("summary peak_rss_kb %ld\n", PeakRssKb());
    std::fflush(stdout);
  }

  static constexpr int kTickMs = 5;
  Tmain& FMain;
  QString FHost;
  int FPort;
  QString FTopic;
  int FSeconds;
  QElapsedTimer FClock;
  qint64 FLastTick = 0;
  int FSecond = -1;
  qint64 FSecondStall = 0;
  long long FSecondStart = 0;
  qint64 FPhaseStall[2] = {0, 0};
  long long FPhaseShown[2] = {0, 0};
  long FPhaseRss[2][120] = {};
};

}  // namespace

bool StartBenchProbe(Tmain& AMain) {
  const QString broker = qEnvironmentVariable("TESSIVA_BENCH_BROKER");
  if (broker.isEmpty()) return false;
  const int colon = broker.lastIndexOf(QLatin1Char(':'));
  const QString host = broker.left(colon);
  const int port = broker.mid(colon + 1).toInt();
  const QString topic = qEnvironmentVariable("TESSIVA_BENCH_TOPIC", QStringLiteral("tessiva/bench"));
  const int seconds = std::clamp(qEnvironmentVariableIntValue("TESSIVA_BENCH_SECONDS"), 1, 100);
  auto* probe = new TBenchProbe(AMain, host, port, topic, seconds);
  QTimer::singleShot(0, probe, [probe] { probe->Start(); });
  return true;
}

#include "tests/app/main/desktop/DesktopTestKit.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <thread>

namespace rvx::test {

VirtualDesktop::VirtualDesktop(int width, int height, const QString& documents) {
  // -displayfd: the server picks a free display and writes its number.
  server_.setProgram(QStringLiteral("Xvfb"));
  server_.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"),
                        QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("%1x%2x24").arg(width).arg(height),
                        QStringLiteral("-nolisten"), QStringLiteral("tcp")});
  server_.start();
  if (!server_.waitForStarted(10'000)) return;
  QByteArray number;
  for (int i = 0; i < 200 && !number.contains('\n'); ++i) {
    server_.waitForReadyRead(100);
    number += server_.readAllStandardOutput();
  }
  if (!number.contains('\n')) return;
  display_ = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
  runtime_ = documents + QStringLiteral("/runtime");
  QDir().mkpath(runtime_);
  QFile::setPermissions(runtime_,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  env_ = QProcessEnvironment::systemEnvironment();
  env_.remove(QStringLiteral("QT_QPA_PLATFORM"));
  env_.insert(QStringLiteral("DISPLAY"), display_);
  env_.insert(QStringLiteral("RVX_DOCUMENTS"), documents);
  env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_);
  // Sanitized builds of the program: leaks of the system's libraries are
  // not reported.
  env_.insert(QStringLiteral("LSAN_OPTIONS"),
              QStringLiteral("suppressions=") + QStringLiteral(RVX_LSAN_SUPPRESSIONS));
}

VirtualDesktop::~VirtualDesktop() {
  if (server_.state() != QProcess::NotRunning) {
    server_.terminate();
    if (!server_.waitForFinished(5000)) server_.kill();
    server_.waitForFinished(5000);
  }
}

std::unique_ptr<QProcess> VirtualDesktop::StartProgram(const QStringList& arguments) {
  auto program = std::make_unique<QProcess>();
  program->setProcessEnvironment(env_);
  program->setProgram(QStringLiteral(RVX_PROGRAM));
  program->setArguments(arguments);
  program->setProcessChannelMode(QProcess::ForwardedChannels);
  program->start();
  program->waitForStarted(10'000);
  return program;
}

std::unique_ptr<QProcess> VirtualDesktop::Start(const QString& program,
                                                const QStringList& arguments,
                                                const QString& folder) {
  auto process = std::make_unique<QProcess>();
  process->setProcessEnvironment(env_);
  process->setWorkingDirectory(folder);
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  process->start(program, arguments);
  process->waitForStarted(10'000);
  return process;
}

std::optional<int> VirtualDesktop::Run(const QString& program, const QStringList& arguments,
                                       QString* output, int timeout_ms) {
  QProcess process;
  process.setProcessEnvironment(env_);
  process.start(program, arguments);
  if (!process.waitForFinished(timeout_ms)) {
    process.kill();
    process.waitForFinished(5000);
    return std::nullopt;
  }
  if (output != nullptr) *output = QString::fromLocal8Bit(process.readAllStandardOutput());
  return process.exitCode();
}

int VirtualDesktop::CountWindows(const QString& title) {
  QString out;
  Run(QStringLiteral("xdotool"),
      {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
       QStringLiteral("^") + QRegularExpression::escape(title) + QStringLiteral("$")},
      &out);
  return static_cast<int>(out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size());
}

unsigned long VirtualDesktop::FindWindow(const QString& title, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < end) {
    QString out;
    Run(QStringLiteral("xdotool"),
        {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
         QStringLiteral("^") + QRegularExpression::escape(title) + QStringLiteral("$")},
        &out);
    const QStringList ids = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (!ids.isEmpty()) {
      // Mapped is not yet ready for input: let the window take its focus.
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      return ids.first().toULong();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return 0;
}

bool VirtualDesktop::WaitGone(const QString& title, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (CountWindows(title) > 0) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return true;
}

QRect VirtualDesktop::Geometry(unsigned long window) {
  QString out;
  Run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QString::number(window)},
      &out);
  const QRegularExpressionMatch position =
      QRegularExpression(QStringLiteral("Position: (\\d+),(\\d+)")).match(out);
  const QRegularExpressionMatch size =
      QRegularExpression(QStringLiteral("Geometry: (\\d+)x(\\d+)")).match(out);
  if (!size.hasMatch()) return {};
  return QRect(position.hasMatch() ? position.captured(1).toInt() : 0,
               position.hasMatch() ? position.captured(2).toInt() : 0, size.captured(1).toInt(),
               size.captured(2).toInt());
}

void VirtualDesktop::Click(unsigned long window, int x, int y) {
  Run(QStringLiteral("xdotool"),
      {QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(window),
       QString::number(x), QString::number(y), QStringLiteral("click"), QStringLiteral("1")});
}

void VirtualDesktop::Keys(unsigned long window, const QStringList& keys) {
  Run(QStringLiteral("xdotool"),
      {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(window)});
  QStringList arguments{QStringLiteral("key"), QStringLiteral("--window"), QString::number(window)};
  arguments += keys;
  Run(QStringLiteral("xdotool"), arguments);
}

void VirtualDesktop::Type(unsigned long window, const QString& text) {
  Run(QStringLiteral("xdotool"),
      {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(window)});
  Run(QStringLiteral("xdotool"),
      {QStringLiteral("type"), QStringLiteral("--window"), QString::number(window), text});
}

QImage VirtualDesktop::Screenshot() {
  QTemporaryDir dir;
  const QString file = dir.path() + QStringLiteral("/screen.png");
  Run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
  return QImage(file);
}

}  // namespace rvx::test

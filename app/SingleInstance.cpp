// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SingleInstance.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QPointer>

namespace {

// The paths go one a line, and the running window answers "ok" once it has them.
constexpr char kAnswer[] = "ok\n";

}  // namespace

QString SingleInstanceKey() {
  QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
  if (display.isEmpty()) display = qEnvironmentVariable("DISPLAY");
  // A socket name is a file name: nothing of the display's text may make it a path.
  for (QChar& c : display)
    if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('-')) c = QLatin1Char('_');
  return QStringLiteral("tessaly-%1-%2").arg(getuid()).arg(display);
}

bool HandToRunningWindow(const QString& key, const QStringList& paths, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(key);
  if (!socket.waitForConnected(timeoutMs)) return false;
  QByteArray message;
  for (const QString& p : paths) message += QFileInfo(p).absoluteFilePath().toUtf8() + '\n';
  message += '\n';  // the end of the list
  socket.write(message);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  QByteArray answer;
  while (answer.size() < static_cast<qsizetype>(sizeof kAnswer - 1) && socket.waitForReadyRead(timeoutMs))
    answer += socket.readAll();
  return answer == kAnswer;
}

TSingleInstanceServer::TSingleInstanceServer(QObject* parent) : QObject(parent) {
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  QObject::connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = server_.nextPendingConnection()) {
      QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      QObject::connect(s, &QLocalSocket::readyRead, this, [this, s] {
        // Lines until the empty one; a partial line waits for the rest.
        if (!s->property("done").toBool() && s->peek(s->bytesAvailable()).contains("\n\n")) {
          s->setProperty("done", true);
          QStringList paths;
          for (const QByteArray& line : s->readAll().split('\n'))
            if (!line.isEmpty()) paths << QString::fromUtf8(line);
          s->write(kAnswer);
          s->flush();
          if (OnPaths && !paths.isEmpty()) OnPaths(paths);
        }
      });
    }
  });
}

bool TSingleInstanceServer::Listen(const QString& key) {
  if (server_.listen(key)) return true;
  // Nobody answered on the name (the caller tried first): what is there is left over.
  if (server_.serverError() != QAbstractSocket::AddressInUseError) return false;
  QLocalServer::removeServer(key);
  return server_.listen(key);
}

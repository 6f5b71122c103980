#pragma once

// A stand-in for logind on a test's private bus: owns org.freedesktop.login1 on a connection of
// its own, answers GetSessionByPID with one session and Properties.Get for that session's Active,
// and sends the Manager's and the session's signals when the test asks. Its calls are answered
// on a thread of its own, since the code under test asks with blocking calls from the main
// thread.

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariantMap>
#include <memory>

namespace tovalo::qt::testing {

class FakeLogind {
  public:
    static const QString kSessionPath;

    // Connects to the bus at `address` and takes the name; see `isRunning`.
    explicit FakeLogind(const QString& address);
    ~FakeLogind();
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;

    // Connected, owning the name, with its objects in place.
    bool isRunning() const { return running_; }

    // How the session lookup and the Active read are answered.
    void setSessionLookupFails(bool fails);
    void setActive(bool active);
    void setActiveReadable(bool readable);

    // The pid the last session lookup asked for (0 when none), and how many Active reads came.
    quint32 askedPid() const;
    int activeReads() const;

    void sendPrepareForSleep(bool start);
    void sendLock();
    void sendUnlock();
    void sendPropertiesChanged(const QString& interface, const QVariantMap& changed,
                               const QStringList& invalidated);
    // Any other signal, from this connection (which owns the logind name).
    void send(const QString& path, const QString& interface, const QString& name,
              const QVariantList& arguments = {});

  private:
    struct State;
    class Handler;

    const QString connectionName_;
    QDBusConnection connection_;
    std::shared_ptr<State> state_;
    std::unique_ptr<Handler> handler_;
    QThread thread_;
    bool running_ = false;
};

}  // namespace tovalo::qt::testing

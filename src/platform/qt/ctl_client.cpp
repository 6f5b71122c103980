#include "platform/qt/ctl_client.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QList>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/qt/qt_control_service.h"

namespace tovalo::qt {
namespace {

constexpr std::string_view kUsage =
    "usage: tovalo ctl <command>\n"
    "commands:\n"
    "  list         list the windows that can be pinned (* marks pinned ones)\n"
    "  pin ID       pin the window with this ID\n"
    "  unpin ID     unpin the window with this ID\n"
    "  unpin-all    unpin every pinned window\n"
    "  status       show the version and the pinned windows\n"
    "IDs are the numbers `tovalo ctl list` shows; 0x-prefixed hexadecimal works too.\n";

constexpr std::string_view kHowToStart =
    "Start it first by running `tovalo` in your X session, then try again.\n";

int notRunning(std::ostream& err, std::string_view why) {
    err << "tovalo is not running (" << why << ").\n" << kHowToStart;
    return CtlExitCode::notRunning;
}

int usageError(std::ostream& err, const std::string& problem) {
    err << "tovalo ctl: " << problem << "\n" << kUsage;
    return CtlExitCode::usage;
}

// Decimal, or hexadecimal after "0x"; no sign, nothing around it, within 32 bits.
std::optional<std::uint32_t> parseWindowID(const std::string& text) {
    std::string_view digits = text;
    int base = 10;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
        base = 16;
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    const auto* end = digits.data() + digits.size();
    const auto [last, ec] = std::from_chars(digits.data(), end, value, base);
    if (ec != std::errc() || last != end) {
        return std::nullopt;
    }
    return value;
}

// Code points, for column alignment of UTF-8 names.
std::size_t displayLength(const QString& text) {
    return static_cast<std::size_t>(text.toUcs4().size());
}

std::string padded(const QString& text, std::size_t width) {
    std::string result = text.toStdString();
    const std::size_t length = displayLength(text);
    if (length < width) {
        result.append(width - length, ' ');
    }
    return result;
}

struct Call {
    QDBusMessage reply;
    int failureCode = CtlExitCode::ok;
};

// Sends one method call; on failure prints why and sets the exit code.
Call callInstance(const QDBusConnection& bus, const char* method, const QList<QVariant>& arguments,
                  std::ostream& err) {
    if (!bus.isConnected()) {
        return {{}, notRunning(err, "no session D-Bus to reach it")};
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(ControlBus::serviceName), QString::fromLatin1(ControlBus::objectPath),
        QString::fromLatin1(ControlBus::interfaceName), QString::fromLatin1(method));
    message.setArguments(arguments);
    QDBusMessage reply = bus.call(message, QDBus::Block);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return {reply, CtlExitCode::ok};
    }
    const QString name = reply.errorName();
    if (name == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return {reply, notRunning(err, "nothing serves com.tovalohq.Tovalo on the session bus")};
    }
    if (name.startsWith(QString::fromLatin1(ControlBus::errorPrefix))) {
        err << "tovalo ctl: " << reply.errorMessage().toStdString() << "\n";
    } else {
        err << "tovalo ctl: tovalo did not answer " << method << ": "
            << reply.errorMessage().toStdString() << " (" << name.toStdString() << ")\n";
    }
    return {reply, CtlExitCode::failed};
}

int unexpectedAnswer(std::ostream& err, const QDBusMessage& reply) {
    err << "tovalo ctl: unexpected answer from tovalo (signature \""
        << reply.signature().toStdString() << "\")\n";
    return CtlExitCode::failed;
}

int runList(const QDBusConnection& bus, std::ostream& out, std::ostream& err) {
    const Call call = callInstance(bus, "List", {}, err);
    if (call.failureCode != CtlExitCode::ok) {
        return call.failureCode;
    }
    if (call.reply.signature() != QStringLiteral("a(ussb)")) {
        return unexpectedAnswer(err, call.reply);
    }
    const auto rows = qdbus_cast<QList<QtControlWindowRow>>(call.reply.arguments().at(0));
    std::size_t idWidth = 2;
    std::size_t appWidth = 3;
    for (const auto& row : rows) {
        idWidth = std::max(idWidth, std::to_string(row.windowID).size());
        appWidth = std::max(appWidth, displayLength(row.appName));
    }
    out << padded(QStringLiteral("ID"), idWidth) << "  PIN  "
        << padded(QStringLiteral("APP"), appWidth) << "  TITLE\n";
    for (const auto& row : rows) {
        out << padded(QString::number(row.windowID), idWidth) << "  " << (row.isPinned ? "*" : "-")
            << "    " << padded(row.appName, appWidth) << "  " << row.title.toStdString() << "\n";
    }
    return CtlExitCode::ok;
}

int runPin(const QDBusConnection& bus, std::uint32_t id, std::ostream& out, std::ostream& err) {
    const Call call = callInstance(bus, "Pin", {QVariant::fromValue(uint{id})}, err);
    if (call.failureCode != CtlExitCode::ok) {
        return call.failureCode;
    }
    if (call.reply.signature() != QStringLiteral("b")) {
        return unexpectedAnswer(err, call.reply);
    }
    if (call.reply.arguments().at(0).toBool()) {
        out << "pinned window " << id << "\n";
    } else {
        out << "window " << id << " was already pinned\n";
    }
    return CtlExitCode::ok;
}

int runUnpin(const QDBusConnection& bus, std::uint32_t id, std::ostream& out, std::ostream& err) {
    const Call call = callInstance(bus, "Unpin", {QVariant::fromValue(uint{id})}, err);
    if (call.failureCode != CtlExitCode::ok) {
        return call.failureCode;
    }
    out << "unpinned window " << id << "\n";
    return CtlExitCode::ok;
}

int runUnpinAll(const QDBusConnection& bus, std::ostream& out, std::ostream& err) {
    const Call call = callInstance(bus, "UnpinAll", {}, err);
    if (call.failureCode != CtlExitCode::ok) {
        return call.failureCode;
    }
    if (call.reply.signature() != QStringLiteral("u")) {
        return unexpectedAnswer(err, call.reply);
    }
    const uint count = call.reply.arguments().at(0).toUInt();
    out << "unpinned " << count << (count == 1 ? " window" : " windows") << "\n";
    return CtlExitCode::ok;
}

int runStatus(const QDBusConnection& bus, std::ostream& out, std::ostream& err) {
    const Call call = callInstance(bus, "Status", {}, err);
    if (call.failureCode != CtlExitCode::ok) {
        return call.failureCode;
    }
    if (call.reply.signature() != QStringLiteral("sau")) {
        return unexpectedAnswer(err, call.reply);
    }
    const auto arguments = call.reply.arguments();
    const auto pinned = qdbus_cast<QList<uint>>(arguments.at(1));
    out << "version: " << arguments.at(0).toString().toStdString() << "\n";
    out << "pinned: " << pinned.size() << "\n";
    out << "pinned ids:";
    for (uint id : pinned) {
        out << " " << id;
    }
    out << "\n";
    return CtlExitCode::ok;
}

}  // namespace

int runCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    // QtDBus wants an application object; `tovalo ctl` runs without the GUI.
    std::optional<QCoreApplication> application;
    int argc = 1;
    char name[] = "tovalo";
    char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        application.emplace(argc, argv);
    }
    return runCtl(args, out, err, QDBusConnection::sessionBus());
}

int runCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const QDBusConnection& bus) {
    if (args.empty()) {
        return usageError(err, "missing command");
    }
    const std::string& command = args.front();
    if (command == "help" || command == "--help" || command == "-h") {
        out << kUsage;
        return CtlExitCode::ok;
    }
    const bool takesID = command == "pin" || command == "unpin";
    const bool takesNothing = command == "list" || command == "unpin-all" || command == "status";
    if (!takesID && !takesNothing) {
        return usageError(err, "unknown command \"" + command + "\"");
    }
    const std::size_t expected = takesID ? 2 : 1;
    if (args.size() < expected) {
        return usageError(err, command + " needs a window ID");
    }
    if (args.size() > expected) {
        return usageError(err, "too many arguments for " + command);
    }
    registerControlBusTypes();
    if (takesID) {
        const auto id = parseWindowID(args[1]);
        if (!id) {
            return usageError(err, "\"" + args[1] + "\" is not a window ID");
        }
        return command == "pin" ? runPin(bus, *id, out, err) : runUnpin(bus, *id, out, err);
    }
    if (command == "list") {
        return runList(bus, out, err);
    }
    if (command == "unpin-all") {
        return runUnpinAll(bus, out, err);
    }
    return runStatus(bus, out, err);
}

}  // namespace tovalo::qt

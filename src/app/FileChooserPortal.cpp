#include "FileChooserPortal.h"

#include "AudioFileRule.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QWindow>

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.FileChooser");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

// One filter of the portal's a(sa(us)): a name and its rules, each a kind
// (0 a glob, 1 a MIME type) and a pattern.
struct FilterRule
{
    uint kind = 0;
    QString pattern;
};
struct Filter
{
    QString name;
    QList<FilterRule> rules;
};

QDBusArgument &operator<<(QDBusArgument &out, const FilterRule &rule)
{
    out.beginStructure();
    out << rule.kind << rule.pattern;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, FilterRule &rule)
{
    in.beginStructure();
    in >> rule.kind >> rule.pattern;
    in.endStructure();
    return in;
}
QDBusArgument &operator<<(QDBusArgument &out, const Filter &filter)
{
    out.beginStructure();
    out << filter.name << filter.rules;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, Filter &filter)
{
    in.beginStructure();
    in >> filter.name >> filter.rules;
    in.endStructure();
    return in;
}
} // namespace

Q_DECLARE_METATYPE(FilterRule)
Q_DECLARE_METATYPE(Filter)

FileChooserPortal::FileChooserPortal(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    qDBusRegisterMetaType<FilterRule>();
    qDBusRegisterMetaType<Filter>();
    qDBusRegisterMetaType<QList<FilterRule>>();
    qDBusRegisterMetaType<QList<Filter>>();
}

QString FileChooserPortal::audioFilterName()
{
    return QCoreApplication::translate("FileChooserPortal", "Audio files (WAV, AIFF, AIF, FLAC, MP3)");
}

QStringList FileChooserPortal::audioFilterGlobs()
{
    QStringList globs;
    for (const QString &extension : audiofilerule::supportedAudioFileExtensions()) {
        QString glob = QStringLiteral("*.");
        for (const QChar c : extension)
            glob += c.isLetter() ? QStringLiteral("[%1%2]").arg(c.toLower(), c.toUpper()) : QString(c);
        globs << glob;
    }
    return globs;
}

QStringList FileChooserPortal::builtInNameFilters()
{
    return {tr("Audio files (%1)").arg(audioFilterGlobs().join(QLatin1Char(' ')))};
}

QString FileChooserPortal::parentWindowHandle(const QWindow *window)
{
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    return QStringLiteral("x11:%1").arg(window->winId(), 0, 16);
}

QVariantMap FileChooserPortal::options(Kind kind, const QString &token) const
{
    QVariantMap options{{QStringLiteral("handle_token"), token}, {QStringLiteral("modal"), true}};
    if (kind == Kind::Folder) {
        options.insert(QStringLiteral("directory"), true);
        return options;
    }
    Filter audio{audioFilterName(), {}};
    for (const QString &glob : audioFilterGlobs())
        audio.rules.append({0, glob});
    options.insert(QStringLiteral("multiple"), true);
    options.insert(QStringLiteral("filters"), QVariant::fromValue(QList<Filter>{audio}));
    options.insert(QStringLiteral("current_filter"), QVariant::fromValue(audio));
    return options;
}

void FileChooserPortal::open(Kind kind, const QString &parentWindow)
{
    if (isOpen())
        return;
    if (!m_bus.isConnected()) {
        fallBack(kind);
        return;
    }
    m_kind = kind;
    // The portal names the request object after our connection and the token;
    // listening there before asking cannot miss an answer that comes at once.
    const QString token = QStringLiteral("quorvel%1").arg(++m_requests);
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    listenOn(kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token);

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("OpenFile"));
    const QString title = kind == Kind::Files ? tr("Open file") : tr("Open folder");
    call << parentWindow << title << options(kind, token);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    const uint request = m_requests;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, kind, request](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (!isOpen() || request != m_requests)
            return; // answered already
        if (reply.isError()) {
            stopListening();
            fallBack(kind);
        } else if (reply.value().path() != m_requestPath) {
            listenOn(reply.value().path()); // a portal older than handle_token
        }
    });
}

void FileChooserPortal::openFiles()
{
    open(Kind::Files, parentWindowHandle(QGuiApplication::focusWindow()));
}

void FileChooserPortal::openFolder()
{
    open(Kind::Folder, parentWindowHandle(QGuiApplication::focusWindow()));
}

void FileChooserPortal::fallBack(Kind kind)
{
    if (kind == Kind::Files)
        emit fileDialogNeeded();
    else
        emit folderDialogNeeded();
}

void FileChooserPortal::listenOn(const QString &requestPath)
{
    stopListening();
    m_requestPath = requestPath;
    m_bus.connect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
}

void FileChooserPortal::stopListening()
{
    if (m_requestPath.isEmpty())
        return;
    m_bus.disconnect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
    m_requestPath.clear();
}

// Response 0 is a choice; 1 a cancel, 2 anything else: both change nothing.
void FileChooserPortal::onResponse(uint response, const QVariantMap &results)
{
    stopListening();
    if (response != 0)
        return;
    QList<QUrl> chosen;
    for (const QString &uri : results.value(QStringLiteral("uris")).toStringList()) {
        const QUrl url(uri);
        if (url.isLocalFile())
            chosen.append(url);
    }
    if (m_kind == Kind::Files)
        emit filesChosen(chosen);
    else if (!chosen.isEmpty())
        emit folderChosen(chosen.first());
}

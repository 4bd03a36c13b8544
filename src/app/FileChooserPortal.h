#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

class QWindow;

// The desktop's own file chooser, through the XDG desktop portal
// (org.freedesktop.portal.FileChooser.OpenFile): the listener gets the
// dialog, bookmarks and recent places of their desktop, and, in a sandbox,
// access to what they chose. The request is answered later by a Response
// signal on a request object; nothing here waits for it.
//
// GUI thread only. Where no portal answers (no session bus, no portal
// service, no file chooser behind it) the view is asked to open its built-in
// dialog instead; a cancelled or failed choice changes nothing.
class FileChooserPortal : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by ContentView")
    Q_PROPERTY(QStringList builtInNameFilters READ builtInNameFilters CONSTANT)

public:
    enum class Kind { Files, Folder };

    explicit FileChooserPortal(const QDBusConnection &bus, QObject *parent = nullptr);

    // The filter's name as the listener reads it, in the portal's and the
    // built-in dialog's filter list alike.
    static QString audioFilterName();
    // Its patterns: each extension in any case ("*.[fF][lL][aA][cC]"), since
    // a desktop's chooser may match globs case-sensitively.
    static QStringList audioFilterGlobs();
    // The same filter for Qt's built-in dialog, which takes its globs from
    // the filter's own text.
    static QStringList builtInNameFilters();

    // The portal's identifier of `window`: "x11:<id>" under X11, else empty
    // (a Wayland surface needs an exported handle, which Qt 6.4 lacks).
    static QString parentWindowHandle(const QWindow *window);

    // Asks for audio files (several at once) or one folder. `parentWindow` is
    // the portal's window identifier ("x11:<id>"), or empty. Ignored while
    // a request is open.
    void open(Kind kind, const QString &parentWindow = {});
    // The open buttons: the same, over the window that has the focus.
    Q_INVOKABLE void openFiles();
    Q_INVOKABLE void openFolder();
    bool isOpen() const { return !m_requestPath.isEmpty(); }

signals:
    void filesChosen(const QList<QUrl> &files);
    void folderChosen(const QUrl &folder);
    // No portal answered: the view opens its built-in dialog instead.
    void fileDialogNeeded();
    void folderDialogNeeded();

private slots:
    void onResponse(uint response, const QVariantMap &results);

private:
    QVariantMap options(Kind kind, const QString &token) const;
    void listenOn(const QString &requestPath);
    void stopListening();
    void fallBack(Kind kind);

    QDBusConnection m_bus;
    Kind m_kind = Kind::Files;
    QString m_requestPath;
    uint m_requests = 0;
};

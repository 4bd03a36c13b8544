#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

// The few rules the views apply to scroll offsets, reachable from QML so that no arithmetic with a rule in it lives there.
class ViewRules : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // Whether the track list shows its top or bottom fade.
    Q_INVOKABLE bool showsTopFade(double contentHeight, double viewportHeight, double offset) const;
    Q_INVOKABLE bool showsBottomFade(double contentHeight, double viewportHeight, double offset) const;

    // The scroll offset that centres `row` in the viewport, as far as the
    // content allows.
    Q_INVOKABLE double centredOffset(int row, double rowHeight, double viewportHeight,
                                     double contentHeight) const;
};

#pragma once

#include <QAccessible>
#include <QMetaEnum>
#include <QStringList>

// What assistive technology learns of `object`: "role|name|states", the states
// among checkable, checked, focused and disabled that hold.
inline QString accessibleSummary(QObject *object)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(object);
    if (!face)
        return QStringLiteral("none");
    const QAccessible::State state = face->state();
    QStringList states;
    const std::pair<bool, const char *> flags[] = {{state.checkable, "checkable"},
                                                   {state.checked, "checked"},
                                                   {state.focused, "focused"},
                                                   {state.disabled, "disabled"}};
    for (const auto &[set, name] : flags)
        if (set)
            states << QLatin1String(name);
    return QLatin1String(QMetaEnum::fromType<QAccessible::Role>().valueToKey(face->role())) + u'|' +
           face->text(QAccessible::Name) + u'|' + states.join(u' ');
}

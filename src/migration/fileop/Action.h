// What the engine was doing when an item failed, named only where the operator reads it.
#pragma once

#include <QString>

namespace fileop {

enum class Action { Open, Read, Create, Write, SetAttributes, Link, Delete, Flush, Move, Replace, Rename };

// The verb of "Cannot <verb> <path>: <reason>".
inline QString actionText(Action action)
{
    switch (action) {
    case Action::Open:
        return QStringLiteral("open");
    case Action::Read:
        return QStringLiteral("read");
    case Action::Create:
        return QStringLiteral("create");
    case Action::Write:
        return QStringLiteral("write");
    case Action::SetAttributes:
        return QStringLiteral("set attributes of");
    case Action::Link:
        return QStringLiteral("link");
    case Action::Delete:
        return QStringLiteral("delete");
    case Action::Flush:
        return QStringLiteral("flush");
    case Action::Move:
        return QStringLiteral("move");
    case Action::Replace:
        return QStringLiteral("replace");
    case Action::Rename:
        return QStringLiteral("rename");
    }
    return {};
}

} // namespace fileop

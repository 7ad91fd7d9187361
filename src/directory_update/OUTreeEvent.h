// What loading the OU tree met, in order: gathered off the window's thread, replayed on it.
#pragma once

#include <QString>

struct OUTreeEvent {
    enum class Kind { Node, EnumerationFailed, BindFailed, LoadFailed };
    Kind kind = Kind::Node;
    QString parentKey{}; // Node: the key of the node it goes under ("" for the root)
    QString key{};       // Node: "root" or the OU's DN; a failure: the container concerned, if any
    QString text{};      // Node: the caption; a failure: the directory's error text
    int code = 0;        // a failure: the LDAP result code
};

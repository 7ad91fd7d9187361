#pragma once

#include <QString>

#include <memory>

// The permission fix of one home folder: full control for the account and the
// administrators' group. The job asks only this, so how the grant is made (one
// tool run per account today) can change without touching the job's rules or
// its log lines. Called from the job's thread, one account at a time.
class PermissionFixer {
public:
    struct Result {
        bool ok = false;
        QString message; // why not, on one line; "" when ok
    };
    virtual ~PermissionFixer() = default;
    // account and adminGroup come qualified ("SCHOOL\y7.adams"), so no local
    // namesake can stand in for them.
    virtual Result fix(const QString& account, const QString& adminGroup, const QString& folder) = 0;
};

// Runs resources/cacls beside the program, once for the account and once for
// the group, each with an argument vector.
class CaclsPermissionFixer : public PermissionFixer {
public:
    Result fix(const QString& account, const QString& adminGroup, const QString& folder) override;
    static QString toolPath();
};

std::unique_ptr<PermissionFixer> makeDefaultPermissionFixer();

#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// The permission fix of one home folder: full control for the account and the
// administrators' group. The job asks only this, so how the grant is made (one
// tool run per account today) can change without touching the job's rules or
// its log lines. Called from the job's thread.
namespace smbacl {
struct GrantOutcome;
}

class PermissionFixer {
public:
    struct Result {
        bool ok = false;
        QString message; // why not, on one line; "" when ok
    };
    // One grant with the SIDs the directory gave ("" when it gave none).
    struct Grant {
        QString account;
        QString accountSid;
        QString adminGroup;
        QString adminSid;
        QString folder;
    };
    virtual ~PermissionFixer() = default;
    // account and adminGroup come qualified ("SCHOOL\y7.adams"), so no local
    // namesake can stand in for them.
    virtual Result fix(const QString& account, const QString& adminGroup, const QString& folder) = 0;
    // The job calls this one; a fixer that has no use for the SIDs grants by name.
    virtual Result fixGrant(const Grant& grant) { return fix(grant.account, grant.adminGroup, grant.folder); }
    // Several accounts' folders (separate trees), results in the order given; one
    // failure never stops the others. This one does them one after another.
    virtual QList<Result> fixAll(const QList<Grant>& grants);
    // Before the first fix of a run: the folders the run may fix (those granted by
    // SID), so a fixer can start what it needs while the directory is written.
    virtual void prepare(const QStringList& folders) { Q_UNUSED(folders); }
    // A grant that fixAll will be given soon (once its account is written): a fixer
    // may start it now, so it runs while the next accounts are written.
    virtual void begin(const Grant& grant) { Q_UNUSED(grant); }
    // Once, after the fixes that met it: why a faster way could not be used
    // (the run is then slower, not wrong, and the log says so). "" otherwise.
    virtual QString takeNotice() { return {}; }
};

// Runs resources/cacls beside the program, once for the account and once for
// the group, each with an argument vector.
class CaclsPermissionFixer : public PermissionFixer {
public:
    Result fix(const QString& account, const QString& adminGroup, const QString& folder) override;
    static QString toolPath();
};

// Network home folders go to the corvane-smbacl helpers, started on the first
// such folder and kept for the fixer's life (one SMB session each), granting by
// the directory's SIDs. Local folders go to the tool, several accounts at a time
// on threads of their own (with its messages). Accounts without a SID, and every
// network folder once the helper could not start, go the tool's way one by one.
class PooledPermissionFixer : public PermissionFixer {
public:
    PooledPermissionFixer();
    ~PooledPermissionFixer() override;
    Result fix(const QString& account, const QString& adminGroup, const QString& folder) override;
    Result fixGrant(const Grant& grant) override;
    // The network folders go to the helpers all at once (as many in flight as helpers),
    // the local ones to the tool, a few accounts side by side.
    QList<Result> fixAll(const QList<Grant>& grants) override;
    // Starts the helpers (without waiting for them) when network folders are among these.
    void prepare(const QStringList& folders) override;
    // Sends a network folder to a helper at once; fixAll then only takes its outcome.
    void begin(const Grant& grant) override;
    static QString helperPath();
    // Why network folders go the tool's way; "" while the helpers serve or before the first.
    QString fallbackReason() const;
    QString takeNotice() override;

private:
    bool byBatch(const Grant& grant);
    Result outcomeOf(const Grant& grant, const smbacl::GrantOutcome& done);
    struct Impl;
    std::unique_ptr<Impl> d;
};

std::unique_ptr<PermissionFixer> makeDefaultPermissionFixer();

#include "cacls/PosixAcl.h"

#include "common/PosixHandles.h"

#include <acl/libacl.h>
#include <cerrno>
#include <memory>
#include <string>
#include <sys/acl.h>
#include <type_traits>

namespace cacls {
namespace {

using AclPtr = std::unique_ptr<std::remove_pointer_t<acl_t>, posix::CFree<acl_free>>;
using QualifierPtr = std::unique_ptr<void, posix::CFree<acl_free>>;

// Adds the wanted permissions to the entry of this user or group, creating it if missing.
// acl_create_entry may move the list, hence the release/reset dance.
int addEntry(AclPtr& acl, const AclGrant& grant, bool execute)
{
    const acl_tag_t tag = grant.group ? ACL_GROUP : ACL_USER;
    acl_entry_t entry = nullptr;
    bool found = false;
    for (int rc = acl_get_entry(acl.get(), ACL_FIRST_ENTRY, &entry); rc == 1;
         rc = acl_get_entry(acl.get(), ACL_NEXT_ENTRY, &entry)) {
        acl_tag_t entryTag;
        if (acl_get_tag_type(entry, &entryTag) != 0)
            return errno;
        if (entryTag != tag)
            continue;
        QualifierPtr qualifier(acl_get_qualifier(entry));
        if (!qualifier)
            return errno;
        if (*static_cast<id_t*>(qualifier.get()) == grant.id) {
            found = true;
            break;
        }
    }
    if (!found) {
        acl_t raw = acl.release();
        const int rc = acl_create_entry(&raw, &entry);
        acl.reset(raw);
        if (rc != 0 || acl_set_tag_type(entry, tag) != 0 || acl_set_qualifier(entry, &grant.id) != 0)
            return errno;
    }
    acl_permset_t permset;
    if (acl_get_permset(entry, &permset) != 0 || (!found && acl_clear_perms(permset) != 0) ||
        acl_add_perm(permset, ACL_READ) != 0 || acl_add_perm(permset, ACL_WRITE) != 0 ||
        (execute && acl_add_perm(permset, ACL_EXECUTE) != 0) || acl_set_permset(entry, permset) != 0)
        return errno;
    return 0;
}

int addEntriesAndMask(AclPtr& acl, std::span<const AclGrant> grants, bool execute)
{
    for (const AclGrant& grant : grants) {
        if (const int rc = addEntry(acl, grant, execute))
            return rc;
    }
    acl_t raw = acl.release();
    const int rc = acl_calc_mask(&raw);
    acl.reset(raw);
    if (rc != 0)
        return errno;
    return acl_valid(acl.get()) == 0 ? 0 : EINVAL;
}

// A folder without a default list starts one from its owner, group and other entries
// (as setfacl does), not from its named entries: only the granted accounts are inherited.
AclPtr baseEntriesOf(const AclPtr& access)
{
    AclPtr base(acl_init(4));
    if (!base)
        return base;
    acl_entry_t source = nullptr;
    for (int rc = acl_get_entry(access.get(), ACL_FIRST_ENTRY, &source); rc == 1;
         rc = acl_get_entry(access.get(), ACL_NEXT_ENTRY, &source)) {
        acl_tag_t tag;
        if (acl_get_tag_type(source, &tag) != 0)
            return nullptr;
        if (tag != ACL_USER_OBJ && tag != ACL_GROUP_OBJ && tag != ACL_OTHER)
            continue;
        acl_t raw = base.release();
        acl_entry_t copy = nullptr;
        const int created = acl_create_entry(&raw, &copy);
        base.reset(raw);
        if (created != 0 || acl_copy_entry(copy, source) != 0)
            return nullptr;
    }
    return base;
}

// Writes `edited` unless it equals `original`, so a second run touches nothing.
int writeIfChanged(const std::string& path, acl_type_t type, const AclPtr& original, const AclPtr& edited,
                   bool& changed)
{
    if (original && acl_entries(original.get()) > 0 && acl_cmp(original.get(), edited.get()) == 0)
        return 0;
    if (acl_set_file(path.c_str(), type, edited.get()) != 0)
        return errno;
    changed = true;
    return 0;
}

} // namespace

AclOutcome grantOnObject(int fd, const struct stat& st, std::span<const AclGrant> grants)
{
    // The descriptor pins the object; its /proc name reaches that very inode, so a
    // path swapped for a symbolic link meanwhile cannot redirect the change.
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const bool folder = S_ISDIR(st.st_mode);
    const bool execute = folder || (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
    AclOutcome outcome;

    AclPtr access(acl_get_file(path.c_str(), ACL_TYPE_ACCESS));
    if (!access)
        return {errno, "reading the access list", false};
    AclPtr newAccess(acl_dup(access.get()));
    if (!newAccess)
        return {errno, "copying the access list", false};
    if (const int rc = addEntriesAndMask(newAccess, grants, execute))
        return {rc, "editing the access list", false};

    AclPtr defaults;
    AclPtr newDefaults;
    if (folder) {
        defaults.reset(acl_get_file(path.c_str(), ACL_TYPE_DEFAULT));
        if (!defaults)
            return {errno, "reading the default list", false};
        newDefaults.reset(acl_entries(defaults.get()) > 0 ? acl_dup(defaults.get()) : baseEntriesOf(access).release());
        if (!newDefaults)
            return {errno ? errno : EINVAL, "copying the default list", false};
        if (const int rc = addEntriesAndMask(newDefaults, grants, true))
            return {rc, "editing the default list", false};
    }

    // Both lists are valid before either is written.
    if (const int rc = writeIfChanged(path, ACL_TYPE_ACCESS, access, newAccess, outcome.changed))
        return {rc, "writing the access list", outcome.changed};
    if (folder) {
        if (const int rc = writeIfChanged(path, ACL_TYPE_DEFAULT, defaults, newDefaults, outcome.changed))
            return {rc, "writing the default list", outcome.changed};
    }
    return outcome;
}

} // namespace cacls

#include "ToolForms.h"

// The migration, directory-update and about forms are wired in here as they
// land; until then the menu tells the operator the tool is not available.

QWidget* CreateMigrateForm()
{
    return nullptr;
}

QWidget* CreateLDAPUpdateForm()
{
    return nullptr;
}

QWidget* CreateAboutForm()
{
    return nullptr;
}

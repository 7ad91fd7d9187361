#include "ToolForms.h"

#include "app/frmAbout.h"
#include "directory_update/frmLDAPUpdate.h"
#include "migration/frmMigrate.h"

// Each call loads a fresh form: its load handler runs here, before the menu hides.

QWidget* CreateMigrateForm()
{
    return new frmMigrate;
}

QWidget* CreateLDAPUpdateForm()
{
    return new frmLDAPUpdate;
}

QWidget* CreateAboutForm()
{
    return new frmAbout;
}

#pragma once

class QWidget;

// The tool forms the main menu opens, one function per tool. Each returns a
// freshly loaded top-level form that deletes itself and shows the menu again
// when it closes, or nullptr when the tool is not part of this build.
QWidget* CreateMigrateForm();
QWidget* CreateLDAPUpdateForm();
QWidget* CreateAboutForm();

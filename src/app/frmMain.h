#pragma once

#include <QWidget>

#include <functional>

class PictureButton;
class QLabel;

// The main menu: four picture buttons, one per tool. Opening a tool hides the
// menu; the tool shows it again when it closes. Closing the menu ends the
// program, after asking the operator when the operator asked for it.
class frmMain final : public QWidget {
    Q_OBJECT
public:
    // How each tool's form is made: ToolForms by default; tests put stand-ins here.
    struct ToolFactories {
        std::function<QWidget*()> migrate;
        std::function<QWidget*()> ldapUpdate;
        std::function<QWidget*()> about;
    };
    static ToolFactories DefaultToolFactories();
    static void SetToolFactories(ToolFactories factories);

    // The one menu of the program, or nullptr before it is first shown or after the exit.
    static frmMain* Instance();
    // Shows the menu, loading it first when it does not exist yet.
    static void ShowMenu();
    // Makes ShowMenu() what modMain::ShowMainMenu() does, for the splash and the tools.
    static void InstallAsMainMenu();

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblTitle2 = nullptr;
    PictureButton* imgSettings = nullptr;
    QLabel* lblSettings = nullptr;
    PictureButton* imgMigrate = nullptr;
    QLabel* lblMigrate = nullptr;
    PictureButton* imgUpdateAD = nullptr;
    QLabel* lblUpdateAD = nullptr;
    PictureButton* imgAbout = nullptr;
    QLabel* lblAbout = nullptr;
    QLabel* lblFooter = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    frmMain();
    void createControls();
    void Form_Load();
    void imgSettings_Click();
    void imgMigrate_Click();
    void imgUpdateAD_Click();
    void imgAbout_Click();
    void openTool(const std::function<QWidget*()>& factory, bool hideAfterLoad = false);
    void unloadOtherForms();

    bool m_exiting = false;
    bool m_sessionEnding = false;
    bool m_centred = false;
};

#pragma once
// Stand-ins for the options dialog and the cube window until the dialogs module provides them:
// the options stand-in loads the settings and the loading XML and keeps the step tree so a run
// works; the cube stand-in reports that cube processing is not available.

#include "engine/StepTree.h"
#include "shell/ShellServices.h"

#include <QWidget>

class QTreeWidget;

namespace zs::shell {

class ProgramLog;
class SettingsStore;
struct ProgramSettings;

class PlaceholderOptionsDialog : public QWidget, public OptionsDialog {
public:
    PlaceholderOptionsDialog(SettingsStore& store, ProgramSettings& settings, ProgramLog& log, QWidget* parent = nullptr);

    /// Loads zentrikServer.xml and the loading XML; false when there is no settings file.
    bool InitializeSettings();

    void Form_ShowMe() override;
    void RicaricaModuli(bool keepTicks) override;
    engine::StepTree& tvXML() override { return m_tree; }
    void BusAndTask(const std::string& task, const std::string& parameters, bool& ok) override;
    void OutputResponseDB(const std::string& text) override;
    void set_Computer(const std::string&) override {}
    void set_SystemUserID(const std::string&) override {}
    void set_SystemPassword(const std::string&) override {}
    void set_OperatorUserID(const std::string&) override {}
    void set_OperatorPassword(const std::string&) override {}
    void set_CoDiv(const std::string&) override {}

private:
    void refreshView();
    SettingsStore& m_store;
    ProgramSettings& m_settings;
    ProgramLog& m_log;
    engine::StepTree m_tree;
    QTreeWidget* m_view;
};

class PlaceholderCubeWindow : public QWidget, public CubeWindow {
public:
    PlaceholderCubeWindow(ProgramLog& log, QWidget* parent = nullptr);
    void Form_ShowMe() override;
    bool process() override;
    void set_MacchinaOLAP(const std::string& name) override { m_server = name; }
    void set_DatabaseCubi(const std::string& name) override { m_db = name; }
    void Inizializza() override {}
    void modifyCube(const std::string&, int, const std::string&) override {}
    void AggiornaTabellaCubi() override {}
    std::string txtDsoServer() const override { return m_server; }
    std::string txtDsoDb() const override { return m_db; }
    std::vector<InfoCubo> cubes() const override { return {}; }

private:
    ProgramLog& m_log;
    std::string m_server, m_db;
};

} // namespace zs::shell

#pragma once
// frmOpzioni: the options dialog with its four pages (step tree, database creation, Bus & Task
// logins, statistics chart). The logic lives in OpzioniCore; this window shows its state and
// forwards the operator's actions.

#include "dialogs/core/OpzioniCore.h"
#include "dialogs/core/StatisticsChart.h"
#include "program/ShellServices.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QLineEdit;
class QMdiSubWindow;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QTreeWidget;
class QTreeWidgetItem;

namespace zs::flatui {
class FlatButtonWidget;
class FlatTabWidget;
struct Picture;
} // namespace zs::flatui

namespace zs::dialogs {

class frmJob;
class StatisticsSurface;

class frmOpzioni : public QWidget, public program::OptionsDialog, private OpzioniView {
    Q_OBJECT
  public:
    /// The shell registers this window as the settings store's options dialog before
    /// InitializeSettings runs, so the reader can fill the Bus & Task boxes.
    frmOpzioni(OpzioniServices services, QWidget* parent = nullptr);
    ~frmOpzioni() override;

    // program::OptionsDialog
    void Form_ShowMe() override;
    void RicaricaModuli(bool keepTicks) override;
    engine::StepTree& tvXML() override { return m_core.tree(); }
    void BusAndTask(const std::string& task, const std::string& parameters, bool& ok) override;
    void OutputResponseDB(const std::string& text) override;
    void set_Computer(const std::string& text) override;
    void set_SystemUserID(const std::string& text) override;
    void set_SystemPassword(const std::string& text) override;
    void set_OperatorUserID(const std::string& text) override;
    void set_OperatorPassword(const std::string& text) override;
    void set_CoDiv(const std::string& text) override;

    /// Reads the settings and the loading XML for the program (the wizard when there are none).
    OpzioniCore::InitOutcome InitializeSettings();
    /// The engine's database builder (the stand-in says creation is not available).
    void setCreaDatabase(CreaDatabaseFn fn) { m_core.setCreaDatabase(std::move(fn)); }
    OpzioniCore& core() { return m_core; }
    /// Draws the statistics chart; false when there is no stat.xml.
    bool DisegnaStatistiche();
    const ChartLayout& chart() const { return m_chart; }
    /// Records the design geometry of the tagged controls; run once by the constructor.
    void SaveProperties();
    /// The tab strip's Click: shows the selected page (and draws the chart on the fourth).
    void FlatTab_Click();

  protected:
    bool event(QEvent* e) override;
    void changeEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

  private:
    /// The tab pictures as wide as the strip leaves room for.
    void fitTabs();
    void treeChanged() override;
    void treeRefilled() override;
    /// The node-click toggle of `item`, as a left click on it gives.
    void toggleNode(QTreeWidgetItem* item);
    void setSelectionBoxes(const SelectionBoxes& boxes) override;
    void setLoadingXml(const std::string& text) override;
    void setCreationXml(const std::string& text) override;
    void clearBuildResponse() override;
    void appendBuildResponse(const std::string& text) override { OutputResponseDB(text); }
    void setBusy(bool busy) override;

    QWidget* buildTreePage();
    QWidget* buildDbPage();
    QWidget* buildBusPage();
    QWidget* buildStatPage();
    void showMenu(const QPoint& pos);
    void passwordLeft(PasswordKind kind);
    StatMeasure measure() const;
    /// Whether the operator is working in this dialog now: its window is the active one and,
    /// inside the main window, its sub-window is the active one.
    bool isActiveDialog() const;
    /// Saves the settings when the dialog stops being the active one.
    void activationChanged();

    OpzioniServices m_services;
    OpzioniCore m_core;
    flatui::FlatTabWidget* m_tab = nullptr;
    /// The dark tab picture fitTabs last gave the strip; none until the first fit.
    std::shared_ptr<const flatui::Picture> m_tabFace;
    QWidget* m_picTab[4] = {};
    flatui::FlatButtonWidget* m_flbRicarica = nullptr;
    flatui::FlatButtonWidget* m_flbBuildDb = nullptr;
    flatui::FlatButtonWidget* m_flbConferma = nullptr;
    QTreeWidget* m_tree = nullptr;
    QLineEdit* m_txtLoadingXml = nullptr;
    QLineEdit* m_txtCreationXml = nullptr;
    QPlainTextEdit* m_txtBuildDBResponse = nullptr;
    QCheckBox* m_chkRicarica = nullptr;
    QCheckBox* m_chkSelectAll = nullptr;
    QCheckBox* m_chkUnselectAll = nullptr;
    QCheckBox* m_chkSelectHandly = nullptr;
    QLineEdit* m_eMachine = nullptr;
    QLineEdit* m_eSystemUserId = nullptr;
    QLineEdit* m_eSystemPassword = nullptr;
    QLineEdit* m_eOperatorId = nullptr;
    QLineEdit* m_eOperatorPassword = nullptr;
    QLineEdit* m_eCoDiv = nullptr;
    QRadioButton* m_optStatistiche[3] = {};
    QScrollArea* m_picStatContainer = nullptr;
    StatisticsSurface* m_picStat = nullptr;
    ChartLayout m_chart;
    bool m_checkingPassword = false;
    QMdiSubWindow* m_subWindow = nullptr; ///< the main window's frame around this dialog, if any
    bool m_wasActive = false;
};

} // namespace zs::dialogs

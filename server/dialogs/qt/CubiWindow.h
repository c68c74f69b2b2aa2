#pragma once
// The cube window frmCubi: the cube grid with the refresh choices, the OLAP server and database
// boxes, the "Aggiorna" and save buttons, and the progress notice. The logic lives in
// dialogs::CubiCore; this window shows it and forwards the operator's actions.

#include "dialogs/core/CubiCore.h"
#include "engine/CubeProgress.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;

namespace zs::flatui {
class FlatButtonWidget;
class FlatGridControl;
class FlatGridWidget;
} // namespace zs::flatui

namespace zs::dialogs {

/// The cube grid as the cube window shows it: five columns, no fixed column, thin borders,
/// editable cells on the window's background. The rows come with the catalog.
void setUpCubeGrid(flatui::FlatGridControl& grid);

class CubiNotice;

class frmCubi : public QWidget, public program::CubeWindow, private CubiView, private engine::CubeProgressHost {
  public:
    /// `programFolder` holds the OLAP catalogs and receives zentrikOlap.xml; `messages` shows
    /// the warnings. The shell then wires the run window's log, the settings store and the
    /// yield through core().
    frmCubi(std::filesystem::path programFolder, const time::Clock& clock, program::MessageService& messages,
            QWidget* parent = nullptr);
    ~frmCubi() override;

    CubiCore& core() { return m_core; }
    /// Records the design geometry of the tagged controls; run once by the constructor.
    void SaveProperties();
    flatui::FlatGridWidget* flgCubi() const { return m_grid; }

    // program::CubeWindow
    void Form_ShowMe() override;
    bool process() override { return m_core.process(); }
    void set_MacchinaOLAP(const std::string& name) override;
    void set_DatabaseCubi(const std::string& name) override;
    void Inizializza() override { m_core.Inizializza(); }
    void modifyCube(const std::string& nome, program::RefreshChoice aggiornamento, const std::string& data) override
    {
        m_core.modifyCube(nome, aggiornamento, data);
    }
    void AggiornaTabellaCubi() override { m_core.AggiornaTabellaCubi(); }
    std::string txtDsoServer() const override { return m_core.txtDsoServer(); }
    std::string txtDsoDb() const override { return m_core.txtDsoDb(); }
    std::vector<InfoCubo> cubes() const override { return m_core.cubes(); }

  protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

  private:
    // CubiView
    bool isVisible() const override { return QWidget::isVisible(); }
    void showWindow() override;
    void setMousePointer(int pointer) override;
    void gridSetRows(int rows) override;
    void gridAddRow(const std::string& line) override;
    int gridRows() const override;
    void gridSetBooleanFormat(int riga, int colonna) override;
    bool gridGetBool(int riga, int colonna) const override;
    void gridSetBool(int riga, int colonna, bool value) override;
    void gridBeginFill(int rows) override;
    void gridEndFill() override;
    void MostraAvanzamento(const std::string& text, int icon) override;
    void NascondiAvanzamento() override;
    // engine::CubeProgressHost
    double textHeightTwips(const std::string& text) override;
    void yield() override;

    void layoutGrid();
    /// The window width at which every grid header fits its column in the smallest grid font.
    static int minimumWidthForHeaders();

    CubiCore m_core;
    engine::CubeProgress m_progress;
    flatui::FlatGridWidget* m_grid;
    QLineEdit* m_server;
    QLineEdit* m_database;
    flatui::FlatButtonWidget* m_aggiorna;
    flatui::FlatButtonWidget* m_salva;
    CubiNotice* m_notice;
    bool m_busyCursor = false;
    QObject* m_subWindow = nullptr; ///< the main window's frame around this window, if any
};

} // namespace zs::dialogs

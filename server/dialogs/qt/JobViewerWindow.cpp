#include "dialogs/qt/JobViewerWindow.h"

#include "dialogs/qt/DialogButtons.h"
#include "flatui/core/Tavolex.h"
#include "flatui/widgets/FlatWidgets.h"
#include "xml/XmlDocument.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace zs::dialogs {

namespace {
template <class T> T* named(T* w, const char* name)
{
    w->setObjectName(name);
    return w;
}
} // namespace

frmJob::frmJob(QWidget* parent)
    : QDialog(parent)
{
    setObjectName("frmJob");
    setWindowTitle("Proprietà");
    auto* l = new QFormLayout(this);
    // The header strip: its caption on the left, the corner picture on the right.
    auto* strip = named(new QLabel(this), "lblIntestazione");
    strip->setFixedHeight(36);
    strip->setAutoFillBackground(true);
    strip->setStyleSheet("background: #14386e;");
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(10, 0, 4, 0);
    auto* caption = named(new QLabel("passo di estrazione", strip), "lblModuli");
    caption->setStyleSheet("color: white; font-weight: bold; font-size: 14px;");
    auto* corner = named(new QLabel(strip), "imgAngolo");
    corner->setFixedSize(28, 28);
    corner->setStyleSheet("background: #78b2dc; border: 2px solid white;");
    stripLayout->addWidget(caption);
    stripLayout->addStretch();
    stripLayout->addWidget(corner);
    l->addRow(strip);
    l->addRow("descrizione", m_txtDescrizione = named(new QLineEdit(this), "txtDescrizione"));
    l->addRow(m_chkSvuota = named(new QCheckBox("svuota tabella", this), "chkSvuota"),
              m_txtNome = named(new QLineEdit(this), "txtNome"));
    l->addRow(m_chkAzzera = named(new QCheckBox("azzera contatore", this), "chkAzzera"),
              m_txtContatore = named(new QLineEdit(this), "txtContatore"));
    l->addRow("job n.", m_cmbJob = named(new QComboBox(this), "cmbJob"));
    l->addRow(m_txtJob = named(new QPlainTextEdit(this), "txtJob"));
    l->addRow(m_chkIncrementale = named(new QCheckBox("Estrazione incrementale", this), "chkIncrementale"));
    l->addRow("svuota facendo riferimento al campo", m_txtSvuota = named(new QLineEdit(this), "txtSvuota"));
    l->addRow("riempi facendo riferimento al campo", m_txtRiempi = named(new QLineEdit(this), "txtRiempi"));
    l->addRow("valore attuale di riferimento", m_txtValore = named(new QLineEdit(this), "txtValore"));
    l->addRow(m_cmbdatatype = named(new QComboBox(this), "cmbdatatype"));
    l->addRow(m_chkAutoUpdate = named(new QCheckBox("Aggiornamento automatico dell' estrazione incrementale", this),
                                      "chkAutoUpdate"));
    auto* close = makeFlatButton(this, "flbChiudi", "Chiudi", 120, 32);
    close->setFixedSize(close->size()); // the face picture is drawn for this size
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch();
    closeRow->addWidget(close);
    l->addRow(closeRow);
    m_cmbdatatype->addItem("numerico");
    m_cmbdatatype->addItem("stringa");
    close->model().events().connect([this](automation::DispId id, std::span<automation::Variant>) {
        if (id == flatui::ev::Click)
            accept();
    });
    connect(m_cmbJob, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (i >= 0 && static_cast<std::size_t>(i) < m_view.jobTexts.size())
            m_txtJob->setPlainText(QString::fromStdString(m_view.jobTexts[static_cast<std::size_t>(i)]));
    });
}

void frmJob::ShowMe(const xml::Element& job, bool modal)
{
    m_view = ReadJobView(job);
    auto q = [](const std::string& s) { return QString::fromStdString(s); };
    m_txtDescrizione->setText(q(m_view.txtDescrizione));
    m_chkSvuota->setChecked(m_view.chkSvuota);
    m_txtNome->setText(q(m_view.txtNome));
    m_txtNome->setEnabled(m_view.txtNomeEnabled);
    m_chkAzzera->setChecked(m_view.chkAzzera);
    m_txtContatore->setText(q(m_view.txtContatore));
    m_txtContatore->setEnabled(m_view.txtContatoreEnabled);
    m_cmbJob->clear();
    m_txtJob->clear();
    for (const auto& e : m_view.jobEntries)
        m_cmbJob->addItem(q(e));
    if (m_view.selectedJob >= 0)
        m_cmbJob->setCurrentIndex(m_view.selectedJob);
    m_txtJob->setPlainText(q(m_view.txtJob));
    m_chkIncrementale->setChecked(m_view.chkIncrementale);
    m_txtSvuota->setText(q(m_view.txtSvuota));
    m_txtRiempi->setText(q(m_view.txtRiempi));
    m_chkAutoUpdate->setChecked(m_view.chkAutoUpdate);
    m_txtValore->setText(q(m_view.txtValore));
    for (QWidget* w : std::initializer_list<QWidget*>{m_txtSvuota, m_txtRiempi, m_txtValore, m_chkAutoUpdate})
        w->setEnabled(m_view.incrementalEnabled);
    m_cmbdatatype->setCurrentIndex(m_view.datatypeIndex);
    m_cmbdatatype->setEnabled(m_view.datatypeEnabled);
    if (modal)
        exec();
}

} // namespace zs::dialogs

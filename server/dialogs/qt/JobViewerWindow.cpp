#include "dialogs/qt/JobViewerWindow.h"

#include "xml/XmlDocument.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace zs::dialogs {

namespace {
template <class T> T* named(T* w, const char* name)
{
    w->setObjectName(name);
    return w;
}
} // namespace

frmJob::frmJob(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmJob");
    setWindowTitle("Proprietà");
    auto* l = new QFormLayout(this);
    l->addRow(named(new QLabel("passo di estrazione", this), "lblModuli"));
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
    auto* close = named(new QPushButton("Chiudi", this), "flbChiudi");
    l->addRow(close);
    m_cmbdatatype->addItem("numerico");
    m_cmbdatatype->addItem("stringa");
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
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

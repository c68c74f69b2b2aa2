#include "frmOperazione.h"

#include "Widgets.h"

#include "scheduler/Operazione.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>

namespace zs::cadenzo {

namespace {

const QColor kFrameDark(0x40, 0x40, 0x40);
const QColor kFrameShadow(0x80, 0x80, 0x80);

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

QToolButton* imageButton(QWidget* parent, const char* name, Icon icon)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoRaise(true);
    b->setIcon(iconFor(icon));
    return b;
}

} // namespace

frmOperazione::frmOperazione(SchedulerState& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
    , m_form(state)
{
    setObjectName(QStringLiteral("frmOperazione"));
    setModal(true);
    // The calendar's month and day names, and every date the dialog's widgets format, are
    // Italian whichever host shows the dialog.
    setLocale(italianLocale());

    m_title = new QLabel(QStringLiteral("Pianifica operazione"), this);
    m_title->setObjectName(QStringLiteral("lblTitle"));
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);

    m_azione = new QComboBox(this);
    m_azione->setObjectName(QStringLiteral("cmbAzione"));
    m_data = new QLineEdit(this);
    m_data->setObjectName(QStringLiteral("txtData"));
    m_imgCalendario = imageButton(this, "imgCalendario", Icon::Calendario);
    m_calendar = new QCalendarWidget(this);
    m_calendar->setObjectName(QStringLiteral("Calendar"));
    m_calendar->setLocale(italianLocale());
    m_calendar->setFirstDayOfWeek(Qt::Monday);
    m_calendar->setWindowFlags(Qt::Popup);
    m_calendar->hide();
    m_ora = new QLineEdit(this);
    m_ora->setObjectName(QStringLiteral("txtOra"));
    m_minuti = new QLineEdit(this);
    m_minuti->setObjectName(QStringLiteral("txtMinuti"));
    for (QLineEdit* e : {m_ora, m_minuti}) {
        e->setMaxLength(2);
        e->setAlignment(Qt::AlignCenter);
        e->setFixedWidth(32);
    }
    m_periodicita = new QComboBox(this);
    m_periodicita->setObjectName(QStringLiteral("cmbPeriodicità"));
    for (const std::string& p : periodicityChoices())
        m_periodicita->addItem(q(p));
    m_escludi = new QComboBox(this);
    m_escludi->setObjectName(QStringLiteral("cmbEscludi"));
    for (const std::string& e : exclusionChoices())
        m_escludi->addItem(q(e));
    m_abilitato = new QCheckBox(QStringLiteral("Abilitato"), this);
    m_abilitato->setObjectName(QStringLiteral("chkAbilitato"));
    m_abilitato->setChecked(true); // first use: a new operation is meant to run
    m_form.abilitato = true;
    m_conferma = imageButton(this, "imgConferma", Icon::Conferma);
    m_annulla = imageButton(this, "imgAnnulla", Icon::Annulla);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_title, 0, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Operazione"), this), 1, 0);
    grid->addWidget(m_azione, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Data Inizio"), this), 2, 0);
    grid->addWidget(m_data, 2, 1);
    grid->addWidget(m_imgCalendario, 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("Ora"), this), 3, 0);
    auto* time = new QHBoxLayout;
    time->addWidget(m_ora);
    time->addWidget(new QLabel(QStringLiteral(":"), this));
    time->addWidget(m_minuti);
    time->addStretch();
    grid->addLayout(time, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Periodicità"), this), 4, 0);
    grid->addWidget(m_periodicita, 4, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Escludi"), this), 5, 0);
    grid->addWidget(m_escludi, 5, 1, 1, 2);
    grid->addWidget(m_abilitato, 6, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_conferma);
    buttons->addWidget(m_annulla);
    grid->addLayout(buttons, 7, 0, 1, 3);
    grid->setSizeConstraint(QLayout::SetFixedSize); // a fixed-size window

    connect(m_data, &QLineEdit::editingFinished, this, [this] {
        m_form.dateText = m_data->text().toStdString();
        m_form.applyDateText(); // a text that is no date stays as typed; confirming says so
        m_data->setText(q(m_form.dateText));
    });
    connect(m_ora, &QLineEdit::editingFinished, this, [this] {
        m_form.hourText = m_ora->text().toStdString();
        m_form.applyHourText();
        m_ora->setText(q(m_form.hourText));
    });
    connect(m_minuti, &QLineEdit::editingFinished, this, [this] {
        m_form.minuteText = m_minuti->text().toStdString();
        m_form.applyMinuteText();
        m_minuti->setText(q(m_form.minuteText));
    });
    connect(m_imgCalendario, &QToolButton::clicked, this, &frmOperazione::calendarioClicked);
    connect(m_calendar, &QCalendarWidget::clicked, this, [this](QDate d) {
        m_form.setChosenDate({d.year(), d.month(), d.day(), 0, 0, 0});
        m_data->setText(q(m_form.dateText));
        m_calendar->hide();
    });
    connect(m_conferma, &QToolButton::clicked, this, &frmOperazione::conferma);
    connect(m_annulla, &QToolButton::clicked, this, &QDialog::reject);
}

void frmOperazione::paintEvent(QPaintEvent* e)
{
    QDialog::paintEvent(e);
    // A raised dialog edge: a dark outer line, then a light one and the face's shadow inside.
    QPainter p(this);
    const QRect r = rect();
    p.setPen(kFrameDark);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.setPen(Qt::white);
    p.drawLine(r.left() + 1, r.top() + 1, r.right() - 2, r.top() + 1);
    p.drawLine(r.left() + 1, r.top() + 1, r.left() + 1, r.bottom() - 2);
    p.setPen(kFrameShadow);
    p.drawLine(r.left() + 1, r.bottom() - 1, r.right() - 1, r.bottom() - 1);
    p.drawLine(r.right() - 1, r.top() + 1, r.right() - 1, r.bottom() - 1);
}

void frmOperazione::calendarioClicked()
{
    const time::DateTime& d = m_form.chosenDate();
    m_calendar->move(m_data->mapToGlobal(QPoint(0, m_data->height())));
    m_calendar->setSelectedDate(QDate(d.year, d.month, d.day));
    m_calendar->show();
    m_calendar->setFocus();
    m_calendar->raise();
}

void frmOperazione::showForm()
{
    m_azione->clear();
    for (const std::string& a : m_form.azioni)
        m_azione->addItem(q(a));
    m_azione->setCurrentIndex(m_form.azioneIndex);
    m_data->setText(q(m_form.dateText));
    m_ora->setText(q(m_form.hourText));
    m_minuti->setText(q(m_form.minuteText));
    // The form's lists hold every value the operation has, known to the lists or not.
    auto fill = [](QComboBox* box, const std::vector<std::string>& entries, const std::string& selected) {
        box->clear();
        for (const std::string& entry : entries)
            box->addItem(q(entry));
        box->setCurrentIndex(std::max(0, box->findText(q(selected))));
    };
    fill(m_periodicita, m_form.periodicitaChoices, m_form.periodicita);
    fill(m_escludi, m_form.escludiChoices, m_form.escludi);
    m_abilitato->setChecked(m_form.abilitato);
    exec();
}

void frmOperazione::Aggiungi(const time::Clock& clock)
{
    m_form.abilitato = m_abilitato->isChecked();
    m_form.Aggiungi(clock);
    showForm();
}

void frmOperazione::Modifica(int j)
{
    if (!m_form.Modifica(j))
        return;
    showForm();
}

void frmOperazione::readFields()
{
    m_form.azioneIndex = m_azione->currentIndex();
    m_form.dateText = m_data->text().toStdString();
    m_form.hourText = m_ora->text().toStdString();
    m_form.minuteText = m_minuti->text().toStdString();
    m_form.periodicita = m_periodicita->currentText().toStdString();
    m_form.escludi = m_escludi->currentText().toStdString();
    m_form.abilitato = m_abilitato->isChecked();
}

void frmOperazione::conferma()
{
    readFields();
    std::string refusal;
    if (!m_form.Conferma(&refusal)) {
        // The dialog stays open on what the operator typed, so it can be put right or cancelled.
        m_ora->setText(q(m_form.hourText));
        m_minuti->setText(q(m_form.minuteText));
        Prompt::inform(this, QStringLiteral("Pianifica operazione"), q(refusal));
        return;
    }
    accept();
}

void frmOperazione::applyAppearance(const AppearanceProps& props)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, oleColor(props.backColor));
    setPalette(pal);
    zs::cadenzo::applyAppearance(props, findChildren<QWidget*>(), false);
}

} // namespace zs::cadenzo

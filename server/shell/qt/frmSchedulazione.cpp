#include "shell/qt/frmSchedulazione.h"

#include "dialogs/qt/DialogLayout.h"
#include "dialogs/qt/PasswordEcho.h"
#include "flatui/widgets/FlatWidgets.h"
#include "program/PasswordCodec.h"
#include "program/SettingsStore.h"
#include "scheduler/qt/CadenzoControl.h"
#include "shell/qt/QtServices.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

namespace zs::shell {

// The foundation's names used here.
using program::kPasswordNonCodificabile;
using program::PasswordCodificabile;
using program::SecondaryOptionsFields;
using program::YieldHook;

namespace {

// A frame's option buttons, one under the other, `width` wide, named `name` with their index.
QButtonGroup* optionGroup(QWidget* owner, QGroupBox* frame, const char* name, int width,
                          std::initializer_list<const char*> captions, QRadioButton** buttons)
{
    auto* group = new QButtonGroup(owner);
    int i = 0;
    for (const char* caption : captions) {
        buttons[i] = new QRadioButton(caption, frame);
        buttons[i]->setObjectName(QString("%1%2").arg(name).arg(i));
        buttons[i]->setGeometry(8, 4 + 26 * i, width, 22);
        group->addButton(buttons[i], i);
        ++i;
    }
    return group;
}

} // namespace

frmSchedulazione::frmSchedulazione(SecondaryOptionsFields& fields, YieldHook& yield, Actions actions, QWidget* parent)
    : QWidget(parent)
    , m_fields(fields)
    , m_actions(std::move(actions))
    , m_alarms(yield, m_actions.alarm)
{
    setObjectName("frmSchedulazione");
    setWindowTitle("Opzioni secondarie");
    setAutoFillBackground(true);
    resize(594, 521); // 8910 × 7815 twips
    // The option fields keep their design place and size: the window never gets smaller than its
    // design, and the main window scrolls it when there is less room.
    setMinimumSize(594, 521);
    buildScheduleGroup();
    buildStartupGroup();
    buildMailGroup();
    buildButtons();
    connectStartupFields();
    connectMailFields();

    loadFields();
    dialogs::saveLayoutProperties(*this);
}

// The title, the note and the scheduler control, whose alarms start the operations.
void frmSchedulazione::buildScheduleGroup()
{
    auto* header = new QLabel("Opzioni secondarie", this);
    header->setStyleSheet("font-weight: bold; font-size: 14px; color: #14386e;");
    dialogs::tagged(header, "lblModuli", "", {12, 6, 400, 22});
    auto* intro = new QLabel("Tramite questa griglia e' possibile specificare quali operazioni eseguire e quando "
                             "effettuarle. Nella colonna Prossimo Evento e' specificato automaticamente quando sarà "
                             "effettuata la prossima operazione.",
                             this);
    intro->setWordWrap(true);
    dialogs::tagged(intro, "label1", "", {12, 28, 570, 44});
    m_cadenzo = new cadenzo::CadenzoControl(this);
    dialogs::tagged(m_cadenzo, "CadenzoControl", "W", {12, 72, 570, 172}); // the control's own height
    m_cadenzo->events().connect([this](automation::DispId id, std::span<automation::Variant> args) {
        if (id == cadenzo::CadenzoControl::kAlarmEvent && !args.empty())
            (void)m_alarms.CadenzoControl_Alarm(args[0].toString());
        else if (id == cadenzo::CadenzoControl::kStoreErrorEvent && !args.empty() && m_actions.storeError)
            m_actions.storeError(args[0].toString());
    });
}

// How the program starts, and how old a log may get.
void frmSchedulazione::buildStartupGroup()
{
    dialogs::tagged(new QLabel("Gestione avvio programma", this), "Label5", "W", {12, 250, 570, 18});
    m_startup = new QCheckBox("Esegui all'avvio di Windows", this);
    dialogs::tagged(m_startup, "chkStartup", "", {12, 268, 280, 22});
    m_minimize = new QCheckBox("Apri minimizzato a icona nella traybar", this);
    dialogs::tagged(m_minimize, "chkMinimize", "", {300, 268, 282, 22});
    auto* months = new QLabel("Cancella i logs piu vecchi di                     mese", this);
    dialogs::tagged(months, "label3", "", {12, 294, 400, 22});
    // The month box and its scroll bar sit in the blanks of the label, measured in its font.
    const QString monthsText = months->text();
    const int gapLeft = 12 + months->fontMetrics().horizontalAdvance(monthsText.left(monthsText.indexOf("  "))) + 3;
    const int gapRight =
        12 + months->fontMetrics().horizontalAdvance(monthsText.left(monthsText.lastIndexOf("  ") + 2)) - 3;
    const int meseWidth = std::max(24, gapRight - gapLeft - 17);
    m_mese = new QLineEdit(this);
    dialogs::tagged(m_mese, "txtMese", "", {gapLeft, 294, meseWidth, 22});
    m_vscrMese = new QScrollBar(Qt::Vertical, this);
    m_vscrMese->setRange(-12, -1);
    m_vscrMese->setValue(-1);
    dialogs::tagged(m_vscrMese, "vscrMese", "", {gapLeft + meseWidth + 1, 294, 16, 22});
}

// When and how the extraction's outcome goes out by mail.
void frmSchedulazione::buildMailGroup()
{
    dialogs::tagged(new QLabel("Notifica estrazione via email", this), "Label6", "", {12, 320, 300, 18});
    auto* frame1 = new QGroupBox(this);
    dialogs::tagged(frame1, "Frame1", "t", {12, 338, 296, 84});
    auto* frame2 = new QGroupBox(this);
    dialogs::tagged(frame2, "Frame2", "t", {314, 338, 268, 60});
    m_optErrorsGroup = optionGroup(
        this, frame1, "optErrors", 284,
        {"Notifica automaticamente", "Chiedi conferma (solo estrazione manuale)", "Non notificare mai"}, m_optErrors);
    m_optErrorsTypeGroup =
        optionGroup(this, frame2, "optErrorsType", 252, {"solo errori", "notifica sempre"}, m_optErrorsType);
    dialogs::tagged(new QLabel("Server Smtp:", this), "Label7", "t", {12, 428, 90, 22});
    m_smtp = new QLineEdit(this);
    dialogs::tagged(m_smtp, "txtSmtp", "t", {104, 428, 204, 22});
    m_autentifica = new QCheckBox("Autentificazione", this);
    dialogs::tagged(m_autentifica, "chkAutentifica", "t", {314, 428, 160, 22});
    dialogs::tagged(new QLabel("Utente:", this), "Label8", "t", {12, 454, 90, 22});
    m_user = new QLineEdit(this);
    dialogs::tagged(m_user, "txtUsername", "t", {104, 454, 204, 22});
    dialogs::tagged(new QLabel("Password:", this), "Label9", "t", {314, 454, 76, 22});
    m_pwd = new QLineEdit(this);
    dialogs::maskWithStars(*m_pwd);
    dialogs::tagged(m_pwd, "txtPwd", "t", {392, 454, 190, 22});
}

// The test mail and online support buttons.
void frmSchedulazione::buildButtons()
{
    const char* buttons[][2] = {
        {"flbEmail", "Invia ora"}, {"flbAssistenza", "Assistenza online"}, {"flbStopAssistenza", "Fine assistenza"}};
    std::function<void()>* handlers[] = {&m_actions.testMail, &m_actions.startSupport, &m_actions.stopSupport};
    for (int i = 0; i < 3; ++i) {
        auto* b = new flatui::FlatButtonWidget(this);
        dialogs::tagged(b, buttons[i][0], "", {12 + 190 * i, 484, 180, 30});
        b->model().setBackColor(0xFFF3EA);
        // Dark text on the pale face: the default white would not read.
        b->model().setForeColorNormal(0x6E3814);
        b->model().setForeColor(0xB46432);
        b->model().setText(buttons[i][1]);
        b->model().setEnabled(true);
        auto* handler = handlers[i];
        b->model().events().connect([handler](automation::DispId id, std::span<automation::Variant>) {
            if (id == flatui::ev::Click && *handler)
                (*handler)();
        });
    }
}

// The start-up and log fields follow their widgets.
void frmSchedulazione::connectStartupFields()
{
    connect(m_startup, &QCheckBox::toggled, this, [this](bool on) {
        m_fields.chkStartup = on ? 1 : 0;
        if (!m_loading && m_actions.mainVisible && m_actions.mainVisible() && m_actions.note)
            m_actions.note(on ? "L'applicazione in futuro sarà avviata automaticamente ad ogni partenza di Windows con "
                                "l'utente attuale."
                              : "L'applicazione in futuro dovrà essere avviata manuelmanete dall'utente.");
    });
    connect(m_minimize, &QCheckBox::toggled, this, [this](bool on) {
        m_fields.chkMinimize = on ? 1 : 0;
        if (!m_loading && m_actions.mainVisible && m_actions.mainVisible() && m_actions.note)
            m_actions.note("L'opzione sara' attivata al prossimo riavvio dell'applicazione.");
    });
    connect(m_mese, &QLineEdit::textChanged, this, [this](const QString& text) {
        const std::string fixed = normalizeMonths(text.toStdString());
        if (fixed != text.toStdString()) {
            m_mese->setText(QString::fromStdString(fixed));
            return;
        }
        m_fields.txtMese = fixed;
        if (!fixed.empty() && fixed.find_first_not_of(' ') != std::string::npos) {
            const QSignalBlocker block(m_vscrMese);
            m_vscrMese->setValue(-std::stoi(fixed));
        }
    });
    connect(m_vscrMese, &QScrollBar::valueChanged, this, [this](int v) { m_mese->setText(QString::number(-v)); });
}

// The mail fields follow their widgets.
void frmSchedulazione::connectMailFields()
{
    connect(m_optErrorsGroup, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on)
            m_fields.optErrors = static_cast<program::NotifyWhen>(id); // the buttons stand in its order
        optErrorsChanged();
    });
    connect(m_optErrorsTypeGroup, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on)
            m_fields.optErrorsType = static_cast<program::NotifyWhat>(id);
    });
    connect(m_smtp, &QLineEdit::textChanged, this, [this](const QString& t) { m_fields.txtSmtp = t.toStdString(); });
    connect(m_autentifica, &QCheckBox::toggled, this, [this](bool on) { m_fields.chkAutentifica = on ? 1 : 0; });
    connect(m_user, &QLineEdit::textChanged, this,
            [this](const QString& t) { m_fields.txtUsername = t.toStdString(); });
    // The field only ever takes a password the settings can hold as typed; the box says when not.
    connect(m_pwd, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (PasswordCodificabile(t.toStdString()))
            m_fields.txtPwd = t.toStdString();
    });
    connect(m_pwd, &QLineEdit::editingFinished, this, [this] { checkPassword(true); });
}

void frmSchedulazione::loadFields()
{
    m_loading = true;
    const SecondaryOptionsFields f = m_fields; // the widgets write back as they change
    m_startup->setChecked(f.chkStartup == 1);
    m_minimize->setChecked(f.chkMinimize == 1);
    m_mese->setText(QString::fromStdString(f.txtMese));
    m_optErrors[static_cast<int>(f.optErrors)]->setChecked(true);
    m_optErrorsType[static_cast<int>(f.optErrorsType)]->setChecked(true);
    m_smtp->setText(QString::fromStdString(f.txtSmtp));
    m_autentifica->setChecked(f.chkAutentifica != 0);
    m_user->setText(QString::fromStdString(f.txtUsername));
    m_pwd->setText(QString::fromStdString(f.txtPwd));
    m_fields = f;
    optErrorsChanged();
    m_loading = false;
}

void frmSchedulazione::optErrorsChanged()
{
    const bool off = m_optErrors[static_cast<int>(program::NotifyWhen::Never)]->isChecked();
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_smtp, m_pwd, m_user, m_autentifica, m_optErrorsType[0], m_optErrorsType[1]})
        w->setEnabled(!off);
    m_fields.txtSmtpEnabled = !off;
}

void frmSchedulazione::Form_ShowMe()
{
    show();
    raise();
}

void frmSchedulazione::checkPassword(bool refocus)
{
    if (m_checkingPassword || m_pwd->text().toStdString() == m_fields.txtPwd)
        return;
    m_checkingPassword = true;
    m_pwd->setText(QString::fromStdString(m_fields.txtPwd));
    if (m_actions.note)
        m_actions.note(kPasswordNonCodificabile);
    if (refocus)
        m_pwd->setFocus();
    m_checkingPassword = false;
}

void frmSchedulazione::Form_Deactivate()
{
    checkPassword(false);
    if (m_mese->text().trimmed().isEmpty()) {
        m_mese->setText("1");
        m_vscrMese->setValue(-1);
    }
    if (m_actions.deactivated)
        m_actions.deactivated();
}

void frmSchedulazione::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    dialogs::applyLayoutProperties(*this);
}

} // namespace zs::shell

#include "dialogs/qt/WizardWindow.h"

#include "program/PasswordCodec.h"

#include "dialogs/core/DialogPrompts.h"
#include "dialogs/qt/DialogButtons.h"
#include "dialogs/qt/PasswordEcho.h"
#include "flatui/core/Tavolex.h"
#include "flatui/widgets/FlatWidgets.h"
#include "program/ProgramSettings.h"
#include "program/SettingsStore.h"

#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>

namespace zs::dialogs {

namespace {
QLineEdit* lineEdit(QWidget* parent, const char* name, bool masked = false)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    if (masked)
        maskWithStars(*e);
    return e;
}
QString q(const std::string& s)
{
    return QString::fromStdString(s);
}
/// A caption as a label shows it: a doubled ampersand stands for one.
QString caption(const std::string& s)
{
    return q(s).replace("&&", "&");
}

/// Narrower, the page texts would wrap to more lines than the pages leave room for.
constexpr int kMinimumWidth = 460;

/// The longest title, instruction line and note that any page shows, for every kind.
WizardPage longestTexts()
{
    WizardPage longest;
    for (ServerKind kind : {ServerKind::Access, ServerKind::Mixed, ServerKind::SqlServer, ServerKind::Oracle}) {
        WizardFields fields;
        fields.kind = kind;
        for (int n = 1; n <= 6; ++n) {
            WizardFlow flow;
            const WizardPage p = flow.MostraPasso(n, fields);
            for (auto [text, into] :
                 {std::pair{&p.lblStep1, &longest.lblStep1}, std::pair{&p.lblStep2, &longest.lblStep2},
                  std::pair{&p.lblCopyright, &longest.lblCopyright}})
                if (text->size() > into->size())
                    *into = *text;
        }
    }
    return longest;
}
} // namespace

frmWizard::frmWizard(program::SettingsStore& store, program::ProgramSettings& values, program::MessageService& messages,
                     Prompts& prompts, program::CubeWindow* cubes, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_values(values)
    , m_messages(messages)
    , m_prompts(prompts)
    , m_cubes(cubes)
{
    setObjectName("frmWizard");
    setWindowTitle(kWizardCaption);
    setModal(true);

    m_lblStep1 = new QLabel(this);
    m_lblStep1->setObjectName("lblStep1");
    m_lblStep2 = new QLabel(this);
    m_lblStep2->setObjectName("lblStep2");
    m_lblStep2->setWordWrap(true);
    m_lblCopyright = new QLabel(this);
    m_lblCopyright->setObjectName("lblCopyright");

    auto* stack = new QStackedLayout;
    for (int i = 0; i < 6; ++i) {
        m_pages[i] = new QWidget(this);
        m_pages[i]->setObjectName(QString("frmStep%1").arg(i));
        stack->addWidget(m_pages[i]);
    }
    stack->setStackingMode(QStackedLayout::StackAll);

    buildTargetPage();
    buildAccessPage();
    buildServerPage();
    buildOlapPage();
    buildBusPage();
    buildRecapPage();
    buildButtons();
    layOut(stack);
    load();
}

// Page 1: target kind.
void frmWizard::buildTargetPage()
{
    auto* l = new QVBoxLayout(m_pages[0]);
    const char* captions[] = {"solo Ms Access", "Ms Access e Ms SqlServer", "solo Ms SqlServer", "solo Oracle"};
    const char* descriptions[] = {
        "Utilizza un database in formato MsAccess - prestazioni ridotte ",
        "Utilizza un database in formato MsAccess per l'estrazione ma riversa i dati estratti in un database "
        "sqlserver (tutte le versioni) - prestazioni aumentate  (N.B. e' possibile utilizzare la versione Desktop "
        "Engine per SqlServer)",
        "Esegue l'estrazione completa in un database sqlserver (tutte le versioni) - prestazioni ideali (N.B. e' "
        "possibile utilizzare la versione Desktop Engine per SqlServer)",
        "Esegue l'estrazione completa in un database oracle - prestazioni ideali\n(N.B. occorre licenza oracle e "
        "istanza database)"};
    for (int i = 0; i < 4; ++i) {
        m_optStep1[i] = new QRadioButton(captions[i], m_pages[0]);
        m_optStep1[i]->setObjectName(QString("optStep1_%1").arg(i));
        auto* d = new QLabel(descriptions[i], m_pages[0]);
        d->setWordWrap(true);
        l->addWidget(m_optStep1[i]);
        l->addWidget(d);
    }
    m_optStep1[0]->setChecked(true);
}

// Page 2: Access file.
void frmWizard::buildAccessPage()
{
    auto* l = new QVBoxLayout(m_pages[1]);
    l->addWidget(new QLabel("Scegliere il percorso del database Access da utilizzare", m_pages[1]));
    auto* row = new QHBoxLayout;
    m_txtAccess = lineEdit(m_pages[1], "txtAccess");
    auto* browse = new QPushButton("..", m_pages[1]);
    browse->setObjectName("cmdStep2");
    browse->setAutoDefault(false); // Enter in the wizard goes on to the next page
    row->addWidget(m_txtAccess);
    row->addWidget(browse);
    l->addLayout(row);
    l->addStretch();
    connect(browse, &QPushButton::clicked, this, &frmWizard::chooseAccess);
}

// Page 3: database server.
void frmWizard::buildServerPage()
{
    auto* l = new QFormLayout(m_pages[2]);
    m_lblServer = new QLabel("Server SqlServer", m_pages[2]);
    m_lblServer->setObjectName("lblServer");
    m_txtServerName = lineEdit(m_pages[2], "txtServerName");
    m_txtDb = lineEdit(m_pages[2], "txtDb");
    m_txtLogin = lineEdit(m_pages[2], "txtLogin");
    m_txtPassword[0] = lineEdit(m_pages[2], "txtPassword_0", true);
    m_txtPassword[1] = lineEdit(m_pages[2], "txtPassword_1", true);
    l->addRow(m_lblServer, m_txtServerName);
    l->addRow("Database", m_txtDb);
    l->addRow("Login", m_txtLogin);
    l->addRow("Password", m_txtPassword[0]);
    l->addRow("Ripeti password", m_txtPassword[1]);
}

// Page 4: OLAP server.
void frmWizard::buildOlapPage()
{
    auto* l = new QFormLayout(m_pages[3]);
    m_txtserverolap = lineEdit(m_pages[3], "txtserverolap");
    m_txtdbolap = lineEdit(m_pages[3], "txtdbolap");
    l->addRow("Server MsOlap", m_txtserverolap);
    l->addRow("Database Olap", m_txtdbolap);
}

// Page 5: Bus & Task.
void frmWizard::buildBusPage()
{
    auto* l = new QFormLayout(m_pages[4]);
    m_optStep5[0] = new QRadioButton("utilizza Bus&&Task", m_pages[4]);
    m_optStep5[0]->setObjectName("optStep5_0");
    m_optStep5[1] = new QRadioButton("non utilizzare Bus&&Task", m_pages[4]);
    m_optStep5[1]->setObjectName("optStep5_1");
    m_optStep5[1]->setChecked(true);
    l->addRow(m_optStep5[0]);
    l->addRow(m_optStep5[1]);
    m_txtVevira = lineEdit(m_pages[4], "txtVevira");
    m_txtsyslogin = lineEdit(m_pages[4], "txtsyslogin");
    m_txtSysPwd = lineEdit(m_pages[4], "txtSysPwd", true);
    m_txtOpLogin = lineEdit(m_pages[4], "txtOpLogin");
    m_txtOpPwd = lineEdit(m_pages[4], "txtOpPwd", true);
    m_txtCoDiv = lineEdit(m_pages[4], "txtCoDiv");
    const char* labels[] = {"Server Vevira",   "Login di sistema",   "Password di sistema",
                            "Login operatore", "Password operatore", "co/Div"};
    QLineEdit* boxes[] = {m_txtVevira, m_txtsyslogin, m_txtSysPwd, m_txtOpLogin, m_txtOpPwd, m_txtCoDiv};
    for (int i = 0; i < 6; ++i) {
        m_lblStep5[i] = new QLabel(labels[i], m_pages[4]);
        m_lblStep5[i]->setObjectName(QString("lblStep5_%1").arg(i));
        l->addRow(m_lblStep5[i], boxes[i]);
    }
    connect(m_optStep5[0], &QRadioButton::clicked, this, [this] { showBusFields(true); });
    connect(m_optStep5[1], &QRadioButton::clicked, this, [this] { showBusFields(false); });
}

// Page 6: recap.
void frmWizard::buildRecapPage()
{
    auto* l = new QVBoxLayout(m_pages[5]);
    m_txtRecap = new QPlainTextEdit(m_pages[5]);
    m_txtRecap->setObjectName("txtRecap");
    l->addWidget(m_txtRecap);
}

// The four flat buttons, what a click on each does, and their tab order.
void frmWizard::buildButtons()
{
    m_flbIndietro = makeFlatButton(this, "flbIndietro", "<< Indietro ");
    m_flbAvanti = makeFlatButton(this, "flbAvanti", "Avanti >>");
    m_flbCancella = makeFlatButton(this, "flbCancella", "Annulla");
    m_flbfine = makeFlatButton(this, "flbfine", "Fine");
    auto onClick = [this](flatui::FlatButtonWidget* b, auto handler) {
        b->model().events().connect([b, handler](automation::DispId id, std::span<automation::Variant>) {
            // A disabled button still raises Click when driven from code; it answers only when enabled.
            if (id == flatui::ev::Click && b->isEnabled() && b->model().enabled())
                handler();
        });
        b->setFixedSize(b->size()); // the face picture is drawn for this size
    };
    onClick(m_flbAvanti, [this] { MostraPasso(m_flow.PassoCorrente() + 1); });
    onClick(m_flbIndietro, [this] { MostraPasso(m_flow.PassoCorrente() - 1); });
    onClick(m_flbCancella, [this] { cancel(); });
    onClick(m_flbfine, [this] { fine(); });
    // A mouse move over one flat button takes the hover look off the others.
    for (auto* b : {m_flbIndietro, m_flbAvanti, m_flbCancella, m_flbfine})
        b->model().events().connect([this, b](automation::DispId id, std::span<automation::Variant>) {
            if (id != flatui::ev::MouseMove)
                return;
            for (auto* other : {m_flbIndietro, m_flbAvanti, m_flbCancella, m_flbfine})
                if (other != b)
                    other->model().Refresh();
        });

    // Tab goes from the page's fields to the forward buttons first, then back and cancel.
    setTabOrder(m_flbAvanti, m_flbfine);
    setTabOrder(m_flbfine, m_flbIndietro);
    setTabOrder(m_flbIndietro, m_flbCancella);
}

// The notes above and below the pages, the pages and the buttons, and the window's size.
void frmWizard::layOut(QStackedLayout* stack)
{
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_flbCancella);
    buttons->addStretch();
    buttons->addWidget(m_flbIndietro);
    buttons->addWidget(m_flbAvanti);
    buttons->addWidget(m_flbfine);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lblStep1);
    layout->addWidget(m_lblStep2);
    layout->addLayout(stack, 1);
    layout->addWidget(m_lblCopyright);
    layout->addLayout(buttons);
    // The wrapped texts need more height as the window narrows, which a layout's minimum does
    // not know: the window keeps the width of its buttons and notes, and the height its tallest
    // page needs at that width, with the longest instruction line.
    m_lblCopyright->setWordWrap(true);
    const WizardPage longest = longestTexts();
    m_lblStep1->setText(caption(longest.lblStep1));
    m_lblStep2->setText(caption(longest.lblStep2));
    m_lblCopyright->setText(q(longest.lblCopyright));
    const int least = std::max(layout->minimumSize().width(), kMinimumWidth);
    setMinimumSize(least, layout->totalHeightForWidth(least));
    resize(560, 420);
}

void frmWizard::load()
{
    m_flow = WizardFlow{};
    setFields(LoadWizardFields(m_store));
    MostraPasso(1);
}

void frmWizard::showModal()
{
    // Opened again from the menu, it shows the settings as they are now, from page 1.
    m_saved = false;
    load();
    centreOnScreen();
    exec();
}

void frmWizard::centreOnScreen()
{
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect area = s->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

WizardFields frmWizard::fields() const
{
    WizardFields f;
    for (int i = 0; i < 4; ++i)
        if (m_optStep1[i]->isChecked())
            f.kind = static_cast<ServerKind>(i);
    auto t = [](const QLineEdit* e) { return e->text().toStdString(); };
    f.txtAccess = t(m_txtAccess);
    f.txtServerName = t(m_txtServerName);
    f.txtDb = t(m_txtDb);
    f.txtLogin = t(m_txtLogin);
    f.txtPassword0 = t(m_txtPassword[0]);
    f.txtPassword1 = t(m_txtPassword[1]);
    f.txtserverolap = t(m_txtserverolap);
    f.txtdbolap = t(m_txtdbolap);
    f.useBusAndTask = m_optStep5[0]->isChecked();
    f.txtVevira = t(m_txtVevira);
    f.txtsyslogin = t(m_txtsyslogin);
    f.txtSysPwd = t(m_txtSysPwd);
    f.txtOpLogin = t(m_txtOpLogin);
    f.txtOpPwd = t(m_txtOpPwd);
    f.txtCoDiv = t(m_txtCoDiv);
    return f;
}

void frmWizard::setFields(const WizardFields& f)
{
    m_optStep1[static_cast<int>(f.kind)]->setChecked(true);
    m_txtAccess->setText(q(f.txtAccess));
    m_txtServerName->setText(q(f.txtServerName));
    m_txtDb->setText(q(f.txtDb));
    m_txtLogin->setText(q(f.txtLogin));
    m_txtPassword[0]->setText(q(f.txtPassword0));
    m_txtPassword[1]->setText(q(f.txtPassword1));
    m_txtserverolap->setText(q(f.txtserverolap));
    m_txtdbolap->setText(q(f.txtdbolap));
    m_txtVevira->setText(q(f.txtVevira));
    m_optStep5[f.useBusAndTask ? 0 : 1]->setChecked(true);
    m_txtsyslogin->setText(q(f.txtsyslogin));
    m_txtSysPwd->setText(q(f.txtSysPwd));
    m_txtOpLogin->setText(q(f.txtOpLogin));
    m_txtOpPwd->setText(q(f.txtOpPwd));
    m_txtCoDiv->setText(q(f.txtCoDiv));
}

void frmWizard::showBusFields(bool visible)
{
    for (QLabel* l : m_lblStep5)
        l->setVisible(visible);
    for (QLineEdit* e : {m_txtVevira, m_txtSysPwd, m_txtsyslogin, m_txtOpPwd, m_txtOpLogin, m_txtCoDiv})
        e->setVisible(visible);
}

void frmWizard::MostraPasso(int n)
{
    if (n < 1 || n > 6)
        return;
    if (m_flow.PassoCorrente() != 0 && n > m_flow.PassoCorrente() && passwordRefused(m_flow.PassoCorrente()))
        return;
    const WizardPage p = m_flow.MostraPasso(n, fields());
    if (p.passwordMismatch)
        m_messages.show("La seconda password non corrisponde con la prima. Ritentare",
                        program::MessageIcon::Information, "Attenzione.");
    for (int k = 1; k <= 6; ++k)
        m_pages[k - 1]->setVisible(k == p.page);
    m_lblStep1->setText(caption(p.lblStep1));
    m_lblStep2->setText(caption(p.lblStep2));
    m_lblCopyright->setText(q(p.lblCopyright));
    if (p.page == 3)
        m_lblServer->setText(q(p.lblServer));
    if (p.page == 5)
        showBusFields(p.busFieldsVisible);
    if (p.page == 6) {
        m_txtRecap->setPlainText(q(p.recap));
        m_txtRecap->setReadOnly(true);
    }
    m_flbfine->setVisible(p.fineVisible);
    m_flbAvanti->setVisible(p.avantiVisible);
    m_flbIndietro->setVisible(p.indietroVisible);
    m_flbIndietro->setEnabled(p.indietroEnabled);
    m_flbIndietro->model().setEnabled(p.indietroEnabled);
    m_flbIndietro->setToolTip(q(p.indietroToolTip));
    m_flbAvanti->setToolTip(q(p.avantiToolTip));
    // The operator types on at once: the page's first field takes the focus.
    if (p.focusFirstPassword)
        m_txtPassword[0]->setFocus();
    else if (QWidget* first = firstField(p.page))
        first->setFocus();
}

QWidget* frmWizard::firstField(int page) const
{
    auto chosen = [](QRadioButton* const* options, int n) -> QWidget* {
        for (int i = 0; i < n; ++i)
            if (options[i]->isChecked())
                return options[i];
        return options[0];
    };
    switch (page) {
    case 1:
        return chosen(m_optStep1, 4);
    case 2:
        return m_txtAccess;
    case 3:
        return m_txtServerName;
    case 4:
        return m_txtserverolap;
    case 5:
        return chosen(m_optStep5, 2);
    case 6:
        return m_txtRecap;
    default:
        return nullptr;
    }
}

void frmWizard::keyPressEvent(QKeyEvent* e)
{
    // Escape asks as Annulla does; Enter goes on as the page's forward button does (Avanti,
    // or Fine on the recap). Keys a field or button used never get here.
    const bool plain = !(e->modifiers() & ~Qt::KeypadModifier);
    if (plain && e->key() == Qt::Key_Escape) {
        cancel();
        return;
    }
    if (plain && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
        if (!e->isAutoRepeat()) {
            if (!m_flbAvanti->isHidden())
                MostraPasso(m_flow.PassoCorrente() + 1);
            else if (!m_flbfine->isHidden())
                fine();
        }
        return;
    }
    QDialog::keyPressEvent(e);
}

bool frmWizard::passwordRefused(int page)
{
    const auto box = RefusedWizardPassword(fields(), page);
    if (!box)
        return false;
    m_messages.show(program::kPasswordNonCodificabile, program::MessageIcon::Exclamation, "Attenzione.");
    const int on = WizardPasswordPage(*box);
    if (m_flow.PassoCorrente() != on)
        MostraPasso(on);
    QLineEdit* focus = nullptr;
    switch (*box) {
    case WizardPasswordBox::Password0:
    case WizardPasswordBox::Password1:
        m_txtPassword[0]->clear();
        m_txtPassword[1]->clear();
        focus = m_txtPassword[0];
        break;
    case WizardPasswordBox::SysPwd:
        focus = m_txtSysPwd;
        break;
    case WizardPasswordBox::OpPwd:
        focus = m_txtOpPwd;
        break;
    }
    focus->clear();
    focus->setFocus();
    return true;
}

void frmWizard::fine()
{
    if (passwordRefused(0))
        return;
    std::string error;
    m_saved = FinishWizard(m_store, m_values, fields(), m_cubes, &error);
    if (!m_saved)
        m_messages.show("Impossibile salvare le impostazioni: " + error, program::MessageIcon::Exclamation,
                        "Attenzione.");
    accept();
}

void frmWizard::cancel()
{
    if (m_prompts.askYesNo("Vuoi interrompere la configurazione guidata?", "Attenzione.", QuestionIcon::information))
        reject();
}

void frmWizard::chooseAccess()
{
    const auto chosen = m_prompts.openFile({"Selezione Database", "Access files (*.mdb)|*.mdb|All files (*.*)|*.*",
                                            m_store.programFolder().string(), m_txtAccess->text().toStdString()});
    if (chosen)
        m_txtAccess->setText(q(*chosen));
}

} // namespace zs::dialogs

#include "ui/Form1.h"

#include "app/ErrorReport.h"
#include "app/Main.h"
#include "app/RuntimeError.h"
#include "app/SettingsStore.h"
#include "db/ConnectFailure.h"
#include "ui/Form2.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <memory>

Form1::Form1(Interaction& ui, QWidget* parent)
    : QWidget(parent), m_ui(ui), m_pointer(new MousePointerControl(this))
{
    using Look::TwipsRect;
    setObjectName(QStringLiteral("Form1"));
    // The logon's controls, then a row below them for the driver.
    setFixedSize(Look::Twips(8040, this), Look::Twips(3645, this));
    const QFont boxFont = Look::BoldArial(9);
    const QFont buttonFont = Look::BoldArial(11.25);

    Frame1 = Look::MakeControl<QGroupBox>(this, "Frame1", TwipsRect(120, 120, 7800, 2385, this));
    Frame1->setTitle(QStringLiteral("Oracle Login"));
    Frame1->setFont(boxFont);
    Look::StyleFrame(Frame1);

    auto label = [&](const char* name, const QString& text, QRect geometry) {
        auto* control = Look::MakeControl<QLabel>(Frame1, name, geometry);
        control->setText(text);
        control->setFont(boxFont);
        return control;
    };
    auto box = [&](const char* name, QRect geometry) {
        auto* control = Look::MakeControl<QLineEdit>(Frame1, name, geometry);
        control->setFont(boxFont);
        control->installEventFilter(this);
        return control;
    };
    auto button = [&](QWidget* parent, const char* name, const QString& text, QRect geometry) {
        auto* control = Look::MakeControl<QPushButton>(parent, name, geometry);
        control->setText(text);
        control->setFont(buttonFont);
        control->setAutoDefault(false);
        return control;
    };

    Label2 = label("Label2", QStringLiteral("SID:"), TwipsRect(240, 405, 1095, 255, this));
    Text1 = box("Text1", TwipsRect(1320, 360, 5535, 345, this));
    PushButton1 =
        button(Frame1, "PushButton1", QStringLiteral("?"), TwipsRect(6960, 360, 600, 345, this));
    Label1 = label("Label1", QStringLiteral("Username:"), TwipsRect(240, 885, 1095, 255, this));
    Text2 = box("Text2", TwipsRect(1320, 840, 6255, 345, this));
    Label4 = label("Label4", QStringLiteral("Password:"), TwipsRect(240, 1365, 1095, 255, this));
    Text3 = box("Text3", TwipsRect(1320, 1320, 6255, 345, this));
    Text3->setEchoMode(QLineEdit::Password);
    PushButton5 = button(Frame1, "PushButton5", QStringLiteral("Test Connection"),
                         TwipsRect(240, 1800, 3600, 405, this));
    PushButton6 = button(Frame1, "PushButton6", QStringLiteral("Help"),
                         TwipsRect(3960, 1800, 3600, 405, this));
    PushButton3 = button(this, "PushButton3", QStringLiteral("Next >"),
                         TwipsRect(120, 2640, 7800, 405, this));
    // Below, lined up with the logon's labels and boxes.
    Label5 = Look::MakeControl<QLabel>(this, "Label5", TwipsRect(360, 3225, 1095, 255, this));
    Label5->setText(QStringLiteral("Driver:"));
    Label5->setFont(boxFont);
    Combo1 = Look::MakeControl<QComboBox>(this, "Combo1", TwipsRect(1440, 3180, 6255, 345, this));
    Combo1->setFont(boxFont);
    Combo1->addItem(Oracle::DefaultDriver);

    for (QWidget* focusless :
         std::initializer_list<QWidget*>{Frame1, Label1, Label2, Label4, Label5})
        focusless->setFocusPolicy(Qt::NoFocus);
    setTabOrder(Text1, PushButton1);
    setTabOrder(PushButton1, Text2);
    setTabOrder(Text2, Text3);
    setTabOrder(Text3, PushButton5);
    setTabOrder(PushButton5, PushButton6);
    setTabOrder(PushButton6, PushButton3);
    setTabOrder(PushButton3, Combo1);

    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    saveOnChange(Text1, SettingsStore::OracleSID);
    saveOnChange(Text2, SettingsStore::OracleUser);
    saveOnChange(Text3, SettingsStore::OraclePassword);
    connect(Combo1, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { save(SettingsStore::OdbcDriver, text); });

    for (QPushButton* pushButton : {PushButton1, PushButton3, PushButton5, PushButton6})
        m_pointer->watchButton(pushButton);
    for (QWidget* element :
         std::initializer_list<QWidget*>{this, Text1, Text2, Text3, Frame1, Combo1})
        m_pointer->watchOther(element);
}

Logon Form1::logon() const
{
    return {Text1->text(), Text2->text(), Text3->text(), Combo1->currentText()};
}

// Every change of a box, typed or set by the program, is stored at once. A
// store that cannot be written is said, and the program goes on.
void Form1::saveOnChange(QLineEdit* box, const QString& key)
{
    connect(box, &QLineEdit::textChanged, this,
            [this, key](const QString& text) { save(key, text); });
}

void Form1::save(const QString& key, const QString& text)
{
    try {
        SettingsStore::WriteSetting(key, text);
    } catch (const std::exception& error) {
        m_ui.warningBox(ErrorReport::DescriptionOf(error), ErrorReport::Title);
    }
}

void Form1::listDrivers(const QList<Oracle::OdbcEntry>& installed)
{
    const QSignalBlocker quiet(Combo1); // the choice is made, and saved, after
    m_drivers = installed;
    Combo1->clear();
    Combo1->addItem(Oracle::DefaultDriver);
    for (const Oracle::OdbcEntry& entry : installed) {
        if (Combo1->findText(entry.name) >= 0)
            continue;
        Combo1->addItem(entry.name);
        Combo1->setItemData(Combo1->count() - 1,
                            entry.kind == Oracle::OdbcEntry::Kind::DataSource
                                ? QStringLiteral("Data source of %1").arg(entry.description)
                                : entry.description,
                            Qt::ToolTipRole);
    }
}

void Form1::chooseDriver(const QString& driver)
{
    const QString name = Oracle::DriverName(driver);
    if (Combo1->findText(name) < 0)
        Combo1->addItem(name);
    Combo1->setCurrentIndex(Combo1->findText(name));
}

Oracle::DriverFamily Form1::driverFamily() const
{
    return Oracle::FamilyOf(Oracle::DriverName(Combo1->currentText()), m_drivers);
}

void Form1::Form_Load()
{
    StepRunner steps(m_ui, QStringLiteral("Form1"), QStringLiteral("Form_Load"));
    steps.step(100, [&] { Look::ApplySkin(this); });
    steps.step(104, [&] {
        setWindowTitle(Main::ProductFullName());
        setWindowIcon(Look::ProgramIcon());
        Main::SetApplicationTitle();
    });
    if (steps.condition(124, [] { return Main::FileExists(Look::HandCursorFilePath()); })) {
        steps.step(126, [&] { m_pointer->setCustomCursor(Look::LoadHandCursor()); });
    }
    steps.step(128, [&] { Text1->setText(SettingsStore::ReadSetting(SettingsStore::OracleSID)); });
    steps.step(130, [&] { Text2->setText(SettingsStore::ReadSetting(SettingsStore::OracleUser)); });
    steps.step(132,
               [&] { Text3->setText(SettingsStore::ReadSetting(SettingsStore::OraclePassword)); });
    steps.step(132, [&] { listDrivers(Oracle::InstalledDrivers()); });
    steps.step(132, [&] { chooseDriver(SettingsStore::ReadSetting(SettingsStore::OdbcDriver)); });
    if (steps.condition(134, [&] { return Oracle::CanConnect(logon()); })) {
        steps.step(136, [&] { m_form2->Show(); });
        steps.step(138, [&] { hide(); });
    }
}

QString Form1::SidHelpText()
{
    const QString crlf = QStringLiteral("\r\n");
    const QStringList example = {
        QStringLiteral("TQDB ="),
        QStringLiteral(" (DESCRIPTION ="),
        QStringLiteral("   (ADDRESS_LIST ="),
        QStringLiteral("     (ADDRESS = (PROTOCOL = TCP)(HOST = db.example.com)(PORT = 1521))"),
        QStringLiteral("   )"),
        QStringLiteral("   (CONNECT_DATA ="),
        QStringLiteral("     (SID = TQDB)"),
        QStringLiteral("   )"),
        QStringLiteral(" )"),
    };
    return QStringLiteral("This software works with Oracle 9i or higher.") +
           QStringLiteral("\r\r") +
           QStringLiteral("The SID is used to identify a particular database. The SID is usually "
                          "defined in the TNSNAMES.ORA file. The TNSNAMES.ORA file found in my "
                          "Oracle 9i folder looks like:") +
           crlf + crlf + example.join(crlf) + crlf + crlf +
           QStringLiteral("Therefore, my SID would be TQDB");
}

QString Form1::SidHelpText(Oracle::DriverFamily family)
{
    using Family = Oracle::DriverFamily;
    const auto help = [](const char* driver, const char* form, const char* example) {
        return QString::fromLatin1(driver) + QStringLiteral("\r\r") + QString::fromLatin1(form) +
               QStringLiteral("\r\n\r\n") + QString::fromLatin1(example);
    };
    switch (family) {
    case Family::PostgreSQL:
        return help("This software reaches PostgreSQL through its ODBC driver, psqlODBC.",
                    "The SID names the server and the database: host:port/database. The port "
                    "may be left out (5432).",
                    "For the database shop on db.example.com, my SID would be "
                    "db.example.com:5432/shop");
    case Family::MariaDB:
        return help("This software reaches MariaDB and MySQL through their ODBC driver, "
                    "Connector/ODBC.",
                    "The SID names the server and the database: host:port/database. The port "
                    "may be left out (3306).",
                    "For the database shop on db.example.com, my SID would be "
                    "db.example.com:3306/shop");
    case Family::SQLite:
        return help("This software reaches SQLite through the SQLite ODBC driver.",
                    "The SID is the path of the database file. A file that does not exist is "
                    "not made: the connection fails.",
                    "For the file shop.db in my home folder, my SID would be /home/me/shop.db");
    case Family::Default:
    case Family::Oracle:
    case Family::Other:
        break;
    }
    return SidHelpText();
}

QString Form1::DataTypeNote()
{
    return QStringLiteral("This software does not support the CLOB and NLOB data type in Oracle.");
}

void Form1::PushButton1_Click()
{
    StepRunner steps(m_ui, QStringLiteral("Form1"), QStringLiteral("PushButton1_Click"));
    QString text;
    steps.step(124,
               [&] { text = SidHelpText(driverFamily()); }); // 100 to 124 put the text together
    steps.step(126, [&] { m_ui.messageBox(text, Main::ApplicationTitle()); });
}

void Form1::PushButton6_Click()
{
    StepRunner steps(m_ui, QStringLiteral("Form1"), QStringLiteral("PushButton6_Click"));
    QString text;
    steps.step(124, [&] { text = SidHelpText(driverFamily()); });
    steps.step(126, [&] { m_ui.messageBox(text, Main::ApplicationTitle()); });
    steps.step(128, [&] { m_ui.messageBox(DataTypeNote(), Main::ApplicationTitle()); });
}

void Form1::PushButton3_Click()
{
    StepRunner steps(m_ui, QStringLiteral("Form1"), QStringLiteral("PushButton3_Click"));
    if (!steps.condition(100, [&] { return Oracle::CanConnect(logon()); }))
        return;
    steps.step(102, [&] { m_form2->Show(); });
    steps.step(104, [&] { hide(); });
    steps.step(106, [&] { m_form2->Form_Load(); });
}

void Form1::PushButton5_Click()
{
    StepRunner steps(m_ui, QStringLiteral("Form1"), QStringLiteral("PushButton5_Click"));
    std::unique_ptr<Oracle::Connection> connection;
    steps.step(100, [&] {
        connection = std::make_unique<Oracle::Connection>(Oracle::ConnectionProperty::None);
    });
    // From here a failure is the logon's: one message, no report; the
    // driver's own words go in its details.
    bool connected = false;
    try {
        m_pointer->setPointer(MousePointer::Hourglass); // 102
        if (!connection)
            throw RuntimeError(RuntimeError::DriverError, QString());
        connection->open(logon()); // 104
        connected = true;
        m_ui.messageBox(QStringLiteral("Connection successful."), Main::ApplicationTitle()); // 106
        m_pointer->setPointer(MousePointer::Default);                                        // 108
    } catch (const std::exception& error) {
        if (!connected) { // 110
            // The cause, where the driver's words tell it, after the message.
            const QString details = ErrorReport::DescriptionOf(error);
            const QString cause = Oracle::ConnectFailureCause(details);
            m_ui.messageBox(
                QStringLiteral("Could not connect. Please check with your administrator.") +
                    (cause.isEmpty() ? QString() : QStringLiteral("\n\n") + cause),
                Main::ApplicationTitle(), details); // 112
        }
        m_pointer->setPointer(MousePointer::Default); // 114
    }
}

void Form1::closeEvent(QCloseEvent* event)
{
    event->accept();
    emit unloaded();
}

// Entering a box selects its whole text, so that typing replaces it.
bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        if (auto* box = qobject_cast<QLineEdit*>(watched))
            QTimer::singleShot(0, box, [box] { box->selectAll(); });
    }
    return QWidget::eventFilter(watched, event);
}

// The two windows against real databases, as a user meets them: start-up
// with and without a working saved logon, the connection dialog's buttons,
// the hand-over to the main window and back, list clicks (failing ones
// included), the hover pointer, a whole change run, the controls and the
// status line while a run goes and after it, the preview's dialog, the saved
// logon and the tab order. Boxes and prompts are scripted through
// WindowInteraction.
//
// With QUORVANE_SCREENSHOT_DIR set, form1.png and form2.png of the filled
// windows, form2-running.png of the main window at a run's prompt and
// changes.png of the preview's dialog with rows that cannot be changed are
// written there (scripts/screenshots).

#include "app/ErrorReport.h"
#include "app/Main.h"
#include "change/ChangeRun.h"
#include "change/Journal.h"
#include "change/OperationCatalogue.h"
#include "tests/support/TestDatabases.h"
#include "ui/Program.h"
#include "ui/WindowInteraction.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>

using namespace TestDatabases;

namespace
{

const QString FirstOperation = QStringLiteral("Remove All Spaces in Selected Field");
const QString ReplaceSpaces = QStringLiteral("Replace All Spaces in Selected Field With...");
const QString RemoveFirst = QStringLiteral("Remove First x Character(s) in Selected Field");
const QString RemoveLast = QStringLiteral("Remove Last x Character(s) in Selected Field");
// What the status line may say while a run goes.
const QRegularExpression Activity(QStringLiteral(
    R"(^(|Reading rows\.\.\.|Writing: [\d,]+ of [\d,]+|Waiting for a locked row\.\.\.)$)"));
// The main window's controls that take input, Stop last.
const QStringList InputControls{"PushButton1", "PushButton5", "PushButton6", "PushButton8",
                                "Check1",      "Combo1",      "ListView1",   "ListView2",
                                "ListView3",   "PushButton7"};
const QStringList Headers{QStringLiteral("Table(s)"), QStringLiteral("Field(s)"),
                          QStringLiteral("First 100 Entries (Preview)")};

// The per-user store the program keeps its logon in.
std::unique_ptr<QSettings> store()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Brenlow",
                                       "Quorvane");
}

QString stored(const char* key)
{
    return store()->value(key).toString();
}

void storeLogon(const Logon& logon)
{
    const auto settings = store();
    settings->setValue("OracleSID", logon.sid);
    settings->setValue("OracleUser", logon.user);
    settings->setValue("OraclePassword", logon.password);
}

QStringList texts(const Logon& logon)
{
    return {logon.sid, logon.user, logon.password};
}

QString literal(const QVariant& value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    return u'\'' + value.toString().replace(u'\'', QStringLiteral("''")) + u'\'';
}

// A table of text columns holding the rows (an invalid QVariant is Null).
void createTable(Schema& schema, const QString& table, const QStringList& columns,
                 const QList<QVariantList>& rows)
{
    QStringList definitions;
    for (const QString& column : columns)
        definitions << Quoted(column) + QStringLiteral(" varchar(200)");
    schema.exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(Quoted(table), definitions.join(", ")));
    for (const QVariantList& row : rows) {
        QStringList values;
        for (const QVariant& value : row)
            values << literal(value);
        schema.exec(
            QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(Quoted(table), values.join(", ")));
    }
}

// Two tables of two fields each, with blanks and Nulls in their values.
QMap<QString, QStringList> createTwoTables(Schema& schema)
{
    createTable(schema, "alpha", {"name", "city"},
                {{"Ann  Lee", "Oslo"}, {" Bob", QVariant()}, {"Cy ", "Rome"}});
    createTable(schema, "beta", {"item", "note"}, {{"pen", "blue ink"}, {QVariant(), "red"}});
    return {{"alpha", {"name", "city"}}, {"beta", {"item", "note"}}};
}

// A table of two fields and 40 rows, so that filling its preview takes long
// enough for the user to act while it fills.
void createLongTable(Schema& schema, const QString& table, const QStringList& columns)
{
    QList<QVariantList> rows;
    for (int i = 0; i < 40; ++i)
        rows << QVariantList{QStringLiteral("a %1").arg(i), QStringLiteral("b %1").arg(i)};
    createTable(schema, table, columns, rows);
}

// Runs `start`; the first time the main window lets events run while busy,
// `act` runs there, as the user's doing. True when it ran.
// Clicks a button, then waits for what it started on the run thread to end
// (and for what the window does then).
void clickAndWait(QWidget* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
    const bool ended = QTest::qWaitFor(
        [] {
            for (QWidget* window : QApplication::topLevelWidgets())
                if (auto* form = qobject_cast<Form2*>(window); form && form->isBusy())
                    return false;
            return true;
        },
        60000);
    QVERIFY2(ended, "the run did not end");
}

bool actWhileBusy(Form2& form, const std::function<void()>& start, const std::function<void()>& act)
{
    bool acted = false;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (acted || !form.isBusy())
            return;
        acted = true;
        act();
    });
    probe.start();
    start();
    return acted;
}

// The field's values as the preview shows them: database order, Null as "".
QStringList previewOf(Schema& schema, const QString& table, const QString& field)
{
    QStringList values;
    for (const QVariant& value :
         schema.column(QStringLiteral("SELECT %1 FROM %2").arg(Quoted(field), Quoted(table))))
        values << (value.isNull() ? QString() : value.toString());
    return values.mid(0, 101);
}

QStringList entries(const QTreeWidget* list)
{
    QStringList result;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        result << list->topLevelItem(i)->text(0);
    return result;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QStringList headerTexts(const QTreeWidget* list)
{
    QStringList result;
    for (int i = 0; i < list->headerItem()->columnCount(); ++i)
        result << list->headerItem()->text(i);
    return result;
}

QStringList comboTexts(const QComboBox* combo)
{
    QStringList result;
    for (int i = 0; i < combo->count(); ++i)
        result << combo->itemText(i);
    return result;
}

QStringList captions()
{
    QStringList result;
    for (const Operation& operation : OperationCatalogue())
        result << operation.caption;
    return result;
}

void clickEntry(QTreeWidget* list, int row)
{
    QTreeWidgetItem* item = list->topLevelItem(row);
    QVERIFY2(item,
             qPrintable(QStringLiteral("%1 has no entry %2").arg(list->objectName()).arg(row)));
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

// A point of the element itself, not covered by any of its children: the
// mouse events there are the element's own.
QPointF ownPoint(const QWidget* element)
{
    const QRect area = element->rect();
    for (int y = area.height() / 2; y < area.height(); y += 3)
        for (int x = area.width() / 2; x < area.width(); x += 3)
            if (!element->childAt(x, y))
                return QPointF(x, y);
    for (int y = 1; y < area.height(); y += 3)
        for (int x = 1; x < area.width(); x += 3)
            if (!element->childAt(x, y))
                return QPointF(x, y);
    return QRectF(area).center();
}

void moveOver(QWidget* element)
{
    const QPointF at = ownPoint(element);
    QMouseEvent move(QEvent::MouseMove, at, element->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(element, &move);
}

void enter(QWidget* element)
{
    const QPointF at = ownPoint(element);
    QEnterEvent event(at, at, element->mapToGlobal(at));
    QCoreApplication::sendEvent(element, &event);
}

// Whether each of the main window's InputControls is enabled.
QList<bool> enabledStates(const QWidget& form)
{
    QList<bool> states;
    for (const QString& name : InputControls) {
        const auto* control = form.findChild<QWidget*>(name);
        states << (control && control->isEnabled());
    }
    return states;
}

// Runs `start`; when the preview's dialog shows, `look` gets it, then it is
// closed (or accepted).
void answerChangesDialog(const std::function<void()>& start,
                         const std::function<void(QDialog&)>& look, bool accept = false)
{
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != "ChangesDialog")
            return;
        timer.stop();
        look(*dialog);
        accept ? dialog->accept() : dialog->reject();
    });
    timer.start();
    start();
}

// The boxes shown so far, one text.
QString said()
{
    return WindowInteraction::shown().join(QStringLiteral(" | "));
}

int pointerOf(Form1& form)
{
    return int(form.mousePointer().pointer());
}
int pointerOf(Form2& form)
{
    return int(form.mousePointer().pointer());
}

// The cursors a window showed, one entry per change of the shape.
class CursorLog : public QObject
{
public:
    explicit CursorLog(QWidget* window) : m_window(window) { window->installEventFilter(this); }
    QList<int> shapes;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const int shape = int(m_window->cursor().shape());
        if (event->type() == QEvent::CursorChange && (shapes.isEmpty() || shapes.last() != shape))
            shapes << shape;
        return false;
    }

private:
    QWidget* m_window;
};

// The connection dialog's controls.
struct Dialog {
    explicit Dialog(Form1& f)
        : form(f), sid(f.findChild<QLineEdit*>("Text1")), user(f.findChild<QLineEdit*>("Text2")),
          password(f.findChild<QLineEdit*>("Text3")),
          help(f.findChild<QPushButton*>("PushButton1")),
          next(f.findChild<QPushButton*>("PushButton3")),
          test(f.findChild<QPushButton*>("PushButton5")),
          helpAll(f.findChild<QPushButton*>("PushButton6"))
    {
    }
    bool complete() const { return sid && user && password && help && next && test && helpAll; }
    QStringList boxes() const { return {sid->text(), user->text(), password->text()}; }
    void type(const Logon& logon)
    {
        sid->setText(logon.sid);
        user->setText(logon.user);
        password->setText(logon.password);
    }
    Form1& form;
    QLineEdit *sid, *user, *password;
    QPushButton *help, *next, *test, *helpAll;
};

// The main window's controls.
struct Window {
    explicit Window(Form2& f)
        : form(f), tables(f.findChild<QTreeWidget*>("ListView1")),
          fields(f.findChild<QTreeWidget*>("ListView2")),
          preview(f.findChild<QTreeWidget*>("ListView3")),
          operations(f.findChild<QComboBox*>("Combo1")),
          start(f.findChild<QPushButton*>("PushButton1")),
          setup(f.findChild<QPushButton*>("PushButton5")),
          progress(f.findChild<QProgressBar*>("ProgressBar1"))
    {
    }
    bool complete() const
    {
        return tables && fields && preview && operations && start && setup && progress;
    }
    Form2& form;
    QTreeWidget *tables, *fields, *preview;
    QComboBox* operations;
    QPushButton *start, *setup;
    QProgressBar* progress;
};

// The main window as its preparation leaves it for the user's tables.
void checkPrepared(Window& w, Schema& schema, const QMap<QString, QStringList>& tables)
{
    QCOMPARE(sorted(entries(w.tables)), tables.keys());
    QCOMPARE(comboTexts(w.operations), captions());
    QCOMPARE(w.operations->currentText(), FirstOperation);
    QCOMPARE(w.operations->currentIndex(), 0);
    QCOMPARE(headerTexts(w.tables), QStringList{Headers[0]});
    QCOMPARE(headerTexts(w.fields), QStringList{Headers[1]});
    QCOMPARE(headerTexts(w.preview), QStringList{Headers[2]});
    for (const QTreeWidget* list : {w.tables, w.fields, w.preview}) // not stretched to the list
        QCOMPARE(list->columnWidth(0), Look::Twips(5300, list));
    QVERIFY(w.tables->currentItem());
    QCOMPARE(w.tables->currentItem(), w.tables->topLevelItem(0));
    const QString table = w.tables->currentItem()->text(0);
    QCOMPARE(entries(w.fields), tables.value(table));
    QVERIFY(w.fields->currentItem());
    QCOMPARE(w.fields->currentItem()->text(0), tables.value(table).value(0));
    QCOMPARE(entries(w.preview), previewOf(schema, table, tables.value(table).value(0)));
}

void saveScreenshot(QWidget& window, const QString& file)
{
    const QString dir = qEnvironmentVariable("QUORVANE_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(window.grab().save(QDir(dir).filePath(file)));
}

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        REQUIRE_TEST_DATABASES();
        QStandardPaths::setTestModeEnabled(true); // the journal in a folder of the tests' own
        m_base = std::make_unique<Schema>("base");
        m_refused = m_base->refusedLogon();
        m_refused.user = QStringLiteral("someone");
    }
    void cleanupTestCase() { m_base.reset(); }
    void init()
    {
        store()->clear();
        WindowInteraction::clearShown();
        WindowInteraction::setNextAnswers({});
        WindowInteraction::setOnPrompt({});
    }
    void startWithoutWorkingLogon_data();
    void startWithoutWorkingLogon();
    void startWithWorkingLogon();
    void nextWithFailingLogon_data();
    void nextWithFailingLogon();
    void nextWithWorkingLogon();
    void testConnection_data();
    void testConnection();
    void helpBoxes_data();
    void helpBoxes();
    void setupThenOtherUser();
    void failedFillGoesOn_data();
    void failedFillGoesOn();
    void clicksDuringFillRefused();
    void hoverRule_data();
    void hoverRule();
    void hourglassKeptDuringFill();
    void changeRunFromButton();
    void logonSavedOnEveryChange();
    void tabOrder();
    void driverListSavedAndRestored();
    void closingEitherWindowEndsTheProgram_data();
    void closingEitherWindowEndsTheProgram();
    void closingWhileBusyEndsTheProgram_data();
    void closingWhileBusyEndsTheProgram();
    void programGoneMidRunWaitsForIt();
    void stopEndsAReadWaitingForALock();
    void failingTableListLeavesNothingOfTheLastLogon();
    void previewStopAndUndo();
    void onlyStopTakesInputDuringRun_data();
    void onlyStopTakesInputDuringRun();
    void statusLineFollowsSelection_data();
    void statusLineFollowsSelection();
    void activityTexts_data();
    void activityTexts();
    void previewListsFailingRows_data();
    void previewListsFailingRows();
    void screenshots();

private:
    // Starts the program with a saved logon that does not open: the dialog shows.
    void startAtDialog(Program& program)
    {
        storeLogon(m_refused);
        program.start();
        QVERIFY(program.form1().isVisible());
        QVERIFY(!program.form2().isVisible());
    }

    std::unique_ptr<Schema> m_base;
    Logon m_refused;
};

void TestWindows::startWithoutWorkingLogon_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QString>("blanks");
    QTest::newRow("empty store") << false << QString();
    QTest::newRow("refused logon") << true << QString();
    QTest::newRow("refused logon with blanks") << true << QStringLiteral("  ");
}

void TestWindows::startWithoutWorkingLogon()
{
    QFETCH(bool, stored);
    QFETCH(QString, blanks);
    Schema schema("stale");
    createTwoTables(schema);
    Logon refused = schema.refusedLogon();
    refused = {blanks + refused.sid + blanks, blanks + refused.user, refused.password + blanks};
    if (stored)
        storeLogon(refused);
    Program program;
    program.start();
    Dialog d(program.form1());
    QVERIFY(d.complete());
    QVERIFY(program.form1().isVisible());
    QVERIFY(!program.form2().isVisible());
    QCOMPARE(said(), QString());
    QCOMPARE(d.boxes(), stored ? texts(refused) : QStringList({"", "", ""}));
    QCOMPARE(program.form1().windowTitle(), Main::ProductFullName());
}

void TestWindows::startWithWorkingLogon()
{
    Schema schema("start");
    const auto tables = createTwoTables(schema);
    storeLogon(schema.logon());
    Program program;
    program.start();
    Window w(program.form2());
    QVERIFY(w.complete());
    QVERIFY(program.form2().isVisible());
    QVERIFY(!program.form1().isVisible());
    QCOMPARE(said(), QString());
    checkPrepared(w, schema, tables);
    QCOMPARE(program.form2().windowTitle(), QStringLiteral("Quorvane"));
    QCOMPARE(pointerOf(program.form2()), 0);
    // The dialog, hidden, still holds the logon every action reads.
    QCOMPARE(Dialog(program.form1()).boxes(), texts(schema.logon()));
}

void TestWindows::nextWithFailingLogon_data()
{
    QTest::addColumn<bool>("empty");
    QTest::newRow("empty boxes") << true;
    QTest::newRow("refused password") << false;
}

void TestWindows::nextWithFailingLogon()
{
    QFETCH(bool, empty);
    Schema schema("refused");
    createTwoTables(schema);
    Program program;
    startAtDialog(program);
    Dialog d(program.form1());
    QVERIFY(d.complete());
    const Logon logon = empty ? Logon{} : schema.refusedLogon();
    d.type(logon);
    QTest::mouseClick(d.next, Qt::LeftButton);
    QCOMPARE(said(), QString());
    QVERIFY(program.form1().isVisible());
    QVERIFY(!program.form2().isVisible());
    QCOMPARE(d.boxes(), texts(logon));
}

void TestWindows::nextWithWorkingLogon()
{
    Schema schema("next");
    const auto tables = createTwoTables(schema);
    Program program;
    startAtDialog(program);
    Dialog d(program.form1());
    Window w(program.form2());
    QVERIFY(d.complete() && w.complete());
    int operationsAdded = 0;
    connect(w.operations->model(), &QAbstractItemModel::rowsInserted, this,
            [&](const QModelIndex&, int first, int last) { operationsAdded += last - first + 1; });
    d.type(schema.logon());
    QTest::mouseClick(d.next, Qt::LeftButton);
    QVERIFY(program.form2().isVisible());
    QVERIFY(!program.form1().isVisible());
    QCOMPARE(said(), QString());
    // The first showing prepares the window, and "Next >" prepares it again:
    // the second preparation replaces what the first one listed.
    QCOMPARE(operationsAdded, 2 * 27);
    checkPrepared(w, schema, tables);
}

void TestWindows::testConnection_data()
{
    QTest::addColumn<bool>("working");
    QTest::addColumn<QString>("driver"); // another connection string's, where given
    QTest::addColumn<QString>("message");
    const QString failed =
        QStringLiteral("message: Could not connect. Please check with your administrator.\n\n");
    QTest::newRow("working logon")
        << true << QString() << QStringLiteral("message: Connection successful.");
    QTest::newRow("refused logon, and why")
        << false << QString()
        << failed + (CurrentBackend() == Backend::SQLite
                         ? QStringLiteral("The server cannot be reached, or the database file "
                                          "cannot be opened.")
                         : QStringLiteral("The user name or the password is wrong."));
    QTest::newRow("driver not installed (IM002), and which")
        << true << QStringLiteral("Quorvane Missing Driver")
        << failed + QStringLiteral("The ODBC driver \"Quorvane Missing Driver\" is not installed");
}

void TestWindows::testConnection()
{
    QFETCH(bool, working);
    QFETCH(QString, driver);
    QFETCH(QString, message);
    Schema schema("test");
    createTwoTables(schema);
    // (after the schema, which sets the test's own template)
    const bool hadTemplate = qEnvironmentVariableIsSet(Oracle::ConnectionStringVariable);
    const QByteArray template_ = qgetenv(Oracle::ConnectionStringVariable);
    const auto restore = qScopeGuard([&] {
        if (hadTemplate)
            qputenv(Oracle::ConnectionStringVariable, template_);
        else
            qunsetenv(Oracle::ConnectionStringVariable);
    });
    if (!driver.isEmpty())
        qputenv(Oracle::ConnectionStringVariable,
                QStringLiteral("Driver={%1};Server=%SID%;Uid=%USER%;Pwd=%PASSWORD%;")
                    .arg(driver)
                    .toUtf8());
    Program program;
    startAtDialog(program);
    Dialog d(program.form1());
    QVERIFY(d.complete());
    const Logon logon = working ? schema.logon() : schema.refusedLogon();
    d.type(logon);
    CursorLog cursors(&program.form1());
    QTest::mouseClick(d.test, Qt::LeftButton);
    if (working && driver.isEmpty()) {
        QCOMPARE(said(), message);
    } else { // the cause, then the driver's own words in the details
        QVERIFY2(said().startsWith(message), qPrintable(said()));
        QVERIFY2(said().contains(" [details: ") && !said().endsWith(" [details: ]"),
                 qPrintable(said()));
    }
    QCOMPARE(WindowInteraction::titles(), QStringList{Main::ApplicationTitle()});
    QCOMPARE(pointerOf(program.form1()), 0);
    // The hourglass while the connection opened, then the default pointer.
    QCOMPARE(cursors.shapes, (QList<int>{int(Qt::WaitCursor), int(Qt::ArrowCursor)}));
    // The hourglass shows over the text boxes too.
    program.form1().mousePointer().setPointer(MousePointer::Hourglass);
    QCOMPARE(d.sid->cursor().shape(), Qt::WaitCursor);
    program.form1().mousePointer().setPointer(MousePointer::Default);
    QCOMPARE(d.sid->cursor().shape(), Qt::IBeamCursor);

    // A test never moves on.
    QVERIFY(program.form1().isVisible());
    QVERIFY(!program.form2().isVisible());
    QCOMPARE(d.boxes(), texts(logon));
}

void TestWindows::helpBoxes_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("boxes");
    QTest::newRow("?") << QStringLiteral("PushButton1") << 1;
    QTest::newRow("Help") << QStringLiteral("PushButton6") << 2;
}

void TestWindows::helpBoxes()
{
    QFETCH(QString, button);
    QFETCH(int, boxes);
    Program program;
    startAtDialog(program);
    auto* pushButton = program.form1().findChild<QPushButton*>(button);
    QVERIFY(pushButton);
    QTest::mouseClick(pushButton, Qt::LeftButton);
    const QStringList shown = WindowInteraction::shown();
    QVERIFY2(shown.size() == boxes, qPrintable(said()));
    const QString help = shown[0];
    QVERIFY2(help.startsWith(
                 "message: This software works with Oracle 9i or higher.\r\r"
                 "The SID is used to identify a particular database. The SID is usually defined in "
                 "the TNSNAMES.ORA file. The TNSNAMES.ORA file found in my Oracle 9i folder looks "
                 "like:\r\n\r\nTQDB =\r\n (DESCRIPTION =\r\n   (ADDRESS_LIST =\r\n"
                 "     (ADDRESS = (PROTOCOL = TCP)(HOST = "),
             qPrintable(help));
    QVERIFY2(help.endsWith(")(PORT = 1521))\r\n   )\r\n   (CONNECT_DATA =\r\n     (SID = TQDB)\r\n"
                           "   )\r\n )\r\n\r\nTherefore, my SID would be TQDB"),
             qPrintable(help));
    if (boxes == 2)
        QCOMPARE(shown[1], QStringLiteral("message: This software does not support the CLOB and "
                                          "NLOB data type in Oracle."));
    QCOMPARE(WindowInteraction::titles(), QStringList(boxes, Main::ApplicationTitle()));
    QVERIFY(program.form1().isVisible());
}

void TestWindows::setupThenOtherUser()
{
    Schema first("first");
    createTwoTables(first);
    Schema other("other");
    createTable(other, "gamma", {"code"}, {{"g 1"}, {"g 2"}});
    storeLogon(first.logon());
    Program program;
    program.start();
    Dialog d(program.form1());
    Window w(program.form2());
    QVERIFY(d.complete() && w.complete());
    QVERIFY(program.form2().isVisible());
    w.operations->setCurrentIndex(5);
    QTest::mouseClick(w.setup, Qt::LeftButton);
    QVERIFY(program.form1().isVisible());
    QVERIFY(!program.form2().isVisible());
    QCOMPARE(d.boxes(), texts(first.logon()));
    d.type(other.logon());
    QTest::mouseClick(d.next, Qt::LeftButton);
    QVERIFY(program.form2().isVisible());
    QVERIFY(!program.form1().isVisible());
    QCOMPARE(said(), QString());
    checkPrepared(w, other, {{"gamma", {"code"}}});
    QCOMPARE(stored("OracleSID"), other.logon().sid);
    QCOMPARE(stored("OracleUser"), other.logon().user);
}

void TestWindows::failedFillGoesOn_data()
{
    QTest::addColumn<bool>("fieldClick");
    QTest::newRow("table dropped, then clicked") << false;
    QTest::newRow("field of a dropped table clicked") << true;
}

void TestWindows::failedFillGoesOn()
{
    QFETCH(bool, fieldClick);
    Schema schema("dropped");
    const auto tables = createTwoTables(schema);
    storeLogon(schema.logon());
    Program program;
    program.start();
    Window w(program.form2());
    QVERIFY(w.complete());
    QCOMPARE(entries(w.tables).size(), 2);
    const QStringList fieldsBefore = entries(w.fields);
    const QStringList previewBefore = entries(w.preview);
    QVERIFY(!previewBefore.isEmpty());
    // The table that goes: the second listed, or the shown one whose field is clicked.
    const int gone = fieldClick ? 0 : 1;
    const QString survivor = w.tables->topLevelItem(1 - gone)->text(0);
    schema.exec("DROP TABLE " + Quoted(w.tables->topLevelItem(gone)->text(0)));
    clickEntry(fieldClick ? w.fields : w.tables, 1);
    const QStringList shown = WindowInteraction::shown();
    QVERIFY2(shown.size() == 1, qPrintable(said()));
    QVERIFY2(shown[0].startsWith("warning: ") && shown[0].size() > 9, qPrintable(shown[0]));
    QCOMPARE(WindowInteraction::titles(), QStringList{ErrorReport::Title});
    QCOMPARE(entries(w.fields), fieldsBefore);
    QCOMPARE(entries(w.preview), previewBefore);
    QCOMPARE(pointerOf(program.form2()), 0);
    QVERIFY(!program.form2().isBusy());
    QVERIFY(program.form2().isVisible());
    // The program goes on: the other table can be listed.
    WindowInteraction::clearShown();
    clickEntry(w.tables, 1 - gone);
    QCOMPARE(said(), QString());
    QCOMPARE(entries(w.fields), tables.value(survivor));
    QCOMPARE(entries(w.preview), previewOf(schema, survivor, tables.value(survivor)[0]));
}

void TestWindows::clicksDuringFillRefused()
{
    Schema schema("busy");
    createTwoTables(schema);
    createLongTable(schema, "aaa", {"first", "second"});
    storeLogon(schema.logon());
    Program program;
    program.start();
    Window w(program.form2());
    QVERIFY(w.complete());
    const QString table = w.tables->currentItem()->text(0);
    const QStringList fields = entries(w.fields);
    const int other = entries(w.tables).indexOf(table) == 0 ? 1 : 0;
    // While the preview of the second field fills, the user clicks another
    // table and "Start Changing".
    QVERIFY(actWhileBusy(
        program.form2(), [&] { clickEntry(w.fields, 1); },
        [&] {
            clickEntry(w.tables, other);
            QTest::mouseClick(w.start, Qt::LeftButton);
        }));
    QCOMPARE(said(), QString());
    QCOMPARE(w.tables->currentItem()->text(0), table);
    QCOMPARE(entries(w.fields), fields);
    QCOMPARE(entries(w.preview), previewOf(schema, table, fields[1]));
    QVERIFY(!program.form2().isBusy());
}

void TestWindows::hoverRule_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<QString>("element"); // empty: the window itself
    QTest::addColumn<bool>("entering");   // an Enter event instead of a move
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    struct Row {
        const char* name;
        int window;
        const char* element;
        bool entering;
        int before, after;
    };
    const Row rows[] = {
        {"dialog: move over ?", 1, "PushButton1", false, 0, 99},
        {"dialog: move over Next >", 1, "PushButton3", false, 0, 99},
        {"dialog: move over Test Connection", 1, "PushButton5", false, 0, 99},
        {"dialog: move over Help", 1, "PushButton6", false, 0, 99},
        {"dialog: enter Next >", 1, "PushButton3", true, 0, 99},
        {"dialog: move over the window", 1, "", false, 99, 0},
        {"dialog: move over the SID box", 1, "Text1", false, 99, 0},
        {"dialog: move over the user box", 1, "Text2", false, 99, 0},
        {"dialog: move over the password box", 1, "Text3", false, 99, 0},
        {"dialog: move over the frame", 1, "Frame1", false, 99, 0},
        {"dialog: enter the SID box", 1, "Text1", true, 99, 0},
        {"dialog: a label keeps the hand", 1, "Label1", false, 99, 99},
        {"dialog: hourglass over a button", 1, "PushButton5", false, 11, 11},
        {"dialog: hourglass entering a button", 1, "PushButton3", true, 11, 11},
        {"dialog: hourglass over a box", 1, "Text3", false, 11, 11},
        {"dialog: hourglass over the window", 1, "", false, 11, 11},
        {"main: move over Start Changing", 2, "PushButton1", false, 0, 99},
        {"main: move over Setup Oracle Connection", 2, "PushButton5", false, 0, 99},
        {"main: enter Start Changing", 2, "PushButton1", true, 0, 99},
        {"main: move over the window", 2, "", false, 99, 0},
        {"main: move over the frame", 2, "Frame1", false, 99, 0},
        {"main: move over the tables", 2, "ListView1", false, 99, 0},
        {"main: move over the fields", 2, "ListView2", false, 99, 0},
        {"main: move over the preview", 2, "ListView3", false, 99, 0},
        {"main: the progress bar keeps the hand", 2, "ProgressBar1", false, 99, 99},
        {"main: hourglass over a button", 2, "PushButton1", false, 11, 11},
        {"main: hourglass over a list", 2, "ListView2", false, 11, 11},
    };
    for (const Row& row : rows)
        QTest::newRow(row.name) << row.window << QString::fromLatin1(row.element) << row.entering
                                << row.before << row.after;
}

void TestWindows::hoverRule()
{
    QFETCH(int, window);
    QFETCH(QString, element);
    QFETCH(bool, entering);
    QFETCH(int, before);
    QFETCH(int, after);
    Program program;
    QWidget& form = window == 1 ? static_cast<QWidget&>(program.form1()) : program.form2();
    MousePointerControl& pointer =
        window == 1 ? program.form1().mousePointer() : program.form2().mousePointer();
    form.show();
    QWidget* target = element.isEmpty() ? &form : form.findChild<QWidget*>(element);
    QVERIFY(target);
    if (auto* list = qobject_cast<QTreeWidget*>(target))
        target = list->viewport();
    pointer.setPointer(MousePointer(before));
    entering ? enter(target) : moveOver(target);
    QCOMPARE(int(pointer.pointer()), after);
}

void TestWindows::hourglassKeptDuringFill()
{
    Schema schema("hourglass");
    QList<QVariantList> rows;
    for (int i = 0; i < 30; ++i)
        rows << QVariantList{QStringLiteral("x%1").arg(i), QStringLiteral("y %1").arg(i)};
    createTable(schema, "readings", {"x", "y"}, rows);
    storeLogon(schema.logon());
    Program program;
    program.start();
    Window w(program.form2());
    QVERIFY(w.complete());
    QList<int> during;
    QTimer probe;
    probe.setInterval(0);
    connect(&probe, &QTimer::timeout, this, [&] {
        if (!during.isEmpty() || !program.form2().isBusy())
            return;
        moveOver(w.start);
        during << pointerOf(program.form2());
        moveOver(w.fields->viewport());
        during << pointerOf(program.form2());
    });
    probe.start();
    clickEntry(w.fields, 1);
    probe.stop();
    QCOMPARE(during, (QList<int>{11, 11}));
    QCOMPARE(pointerOf(program.form2()), 0);
    QCOMPARE(entries(w.preview), previewOf(schema, "readings", "y"));
    enter(w.setup); // the rule works again
    QCOMPARE(pointerOf(program.form2()), 99);
}

void TestWindows::changeRunFromButton()
{
    Schema schema("change");
    createTable(
        schema, "contacts", {"name", "phone"},
        {{"Ann", "555 123 4567"}, {"Bob", "555  0000"}, {"Cy", QVariant()}, {"Di", "none"}});
    storeLogon(schema.logon());
    Program program;
    program.start();
    Window w(program.form2());
    QVERIFY(w.complete());
    QCOMPARE(entries(w.fields), QStringList({"name", "phone"}));
    clickEntry(w.fields, 1);
    QCOMPARE(entries(w.preview), previewOf(schema, "contacts", "phone"));
    const int operation = w.operations->findText(ReplaceSpaces);
    QVERIFY(operation > 0);
    w.operations->setCurrentIndex(operation);
    WindowInteraction::setNextAnswers({"-"});
    clickAndWait(w.start);
    QCOMPARE(said(), QStringLiteral("prompt: Replace With: | message: Done."));
    QCOMPARE(WindowInteraction::titles(), QStringList(2, Main::ApplicationTitle()));
    const QVariantList phones = schema.column("SELECT phone FROM contacts ORDER BY name");
    QCOMPARE(phones.size(), 4);
    QCOMPARE(phones[0].toString(), QStringLiteral("555-123-4567"));
    QCOMPARE(phones[1].toString(), QStringLiteral("555--0000"));
    QVERIFY(phones[2].isNull());
    QCOMPARE(phones[3].toString(), QStringLiteral("none"));
    QCOMPARE(schema.column("SELECT name FROM contacts ORDER BY name"),
             QVariantList({"Ann", "Bob", "Cy", "Di"}));
    QCOMPARE(w.progress->value(), 100);
    QCOMPARE(entries(w.preview), previewOf(schema, "contacts", "phone"));
    QVERIFY(entries(w.preview).contains("555-123-4567"));
    QCOMPARE(pointerOf(program.form2()), 0);
    QVERIFY(!program.form2().isBusy());
}

void TestWindows::logonSavedOnEveryChange()
{
    // A SID that opens nothing on either database, with blanks around it.
    const QString sid = u' ' + m_refused.sid + u' ';
    const QString password = QStringLiteral(" p;w}d ");
    {
        Program program;
        startAtDialog(program);
        Dialog d(program.form1());
        QVERIFY(d.complete());
        QCOMPARE(stored("OracleSID"), m_refused.sid);
        d.sid->selectAll();
        QTest::keyClick(d.sid, Qt::Key_Backspace);
        QCOMPARE(stored("OracleSID"), QString());
        for (int i = 0; i < sid.size(); ++i) {
            QTest::keyClick(d.sid, sid[i].toLatin1());
            QCOMPARE(stored("OracleSID"), sid.left(i + 1));
        }
        d.user->selectAll();
        QTest::keyClick(d.user, Qt::Key_Backspace);
        QVERIFY(store()->contains("OracleUser"));
        QCOMPARE(stored("OracleUser"), QString());
        d.password->selectAll();
        QTest::keyClicks(d.password, password);
        QCOMPARE(stored("OraclePassword"), password);
        QCOMPARE(d.password->echoMode(), QLineEdit::Password);
        QCOMPARE(d.password->displayText(), QString(password.size(), u'*'));
        QCOMPARE(said(), QString());
    }
    // The next start finds the boxes as they were left, blanks kept.
    Program program;
    program.start();
    Dialog d(program.form1());
    QVERIFY(d.complete());
    QVERIFY(program.form1().isVisible());
    QCOMPARE(d.boxes(), QStringList({sid, QString(), password}));
    QCOMPARE(d.password->displayText(), QStringLiteral("*******"));
    QCOMPARE(stored("OracleSID"), sid);
    QCOMPARE(said(), QString());
}

void TestWindows::tabOrder()
{
    Program program;
    startAtDialog(program);
    Dialog d(program.form1());
    QVERIFY(d.complete());
    QVERIFY(QTest::qWaitForWindowExposed(&program.form1()));
    program.form1().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&program.form1()));
    d.sid->setFocus(Qt::TabFocusReason);
    QStringList order;
    for (int i = 0; i < 9; ++i) {
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus);
        order << focus->objectName();
        if (focus == d.user) { // entering a box selects its whole text
            QCoreApplication::processEvents();
            QCOMPARE(d.user->selectedText(), QStringLiteral("someone"));
        }
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    QCOMPARE(order, QStringList({"Text1", "PushButton1", "Text2", "Text3", "PushButton5",
                                 "PushButton6", "PushButton3", "Combo1", "Text1"}));
}

// The driver list below the logon: the drivers and data sources installed,
// the default chosen until another is. The choice is saved as it is made,
// the SID help follows it, and at the next start it is chosen again and the
// saved logon, its SID in that driver's form, connects through it.
void TestWindows::driverListSavedAndRestored()
{
    Schema schema("drivers");
    const auto tables = createTwoTables(schema);
    const QByteArray pattern = qgetenv(Oracle::ConnectionStringVariable);
    qunsetenv(Oracle::ConnectionStringVariable); // (the SQLite schema's)
    const auto restore = qScopeGuard([&] {
        if (!pattern.isEmpty())
            qputenv(Oracle::ConnectionStringVariable, pattern);
    });
    const bool sqlite = CurrentBackend() == Backend::SQLite;
    const QString driver = sqlite ? qEnvironmentVariable("QUORVANE_TEST_SQLITE_DRIVER")
                                  : QStringLiteral("PostgreSQL Unicode");
    Logon logon = schema.logon();
    if (!sqlite)
        logon.sid = QStringLiteral("127.0.0.1:%1/postgres")
                        .arg(qEnvironmentVariable("QUORVANE_TEST_PG_PORT"));
    {
        Program program;
        startAtDialog(program);
        auto* drivers = program.form1().findChild<QComboBox*>("Combo1");
        auto* label = program.form1().findChild<QLabel*>("Label5");
        QVERIFY(drivers && label);
        QCOMPARE(label->text(), QStringLiteral("Driver:"));
        const QStringList listed = comboTexts(drivers);
        QCOMPARE(listed.value(0), Oracle::DefaultDriver);
        for (const QString& name : {QStringLiteral("PostgreSQL Unicode"), driver,
                                    QStringLiteral("Quorvane Test PostgreSQL")})
            QVERIFY2(listed.count(name) == 1, qPrintable(listed.join(" | ")));
        QCOMPARE(drivers->currentText(), Oracle::DefaultDriver);
        drivers->setCurrentIndex(drivers->findText(driver));
        QCOMPARE(stored("OdbcDriver"), driver);
        QTest::mouseClick(program.form1().findChild<QPushButton*>("PushButton1"), Qt::LeftButton);
        QVERIFY2(said().contains(sqlite ? "path of the database file" : "host:port/database"),
                 qPrintable(said()));
    }
    storeLogon(logon);
    Program program;
    program.start();
    QVERIFY(program.form2().isVisible());
    QCOMPARE(program.form1().findChild<QComboBox*>("Combo1")->currentText(), driver);
    QCOMPARE(sorted(entries(Window(program.form2()).tables)), tables.keys());
}

// Both windows filled as a user sees them, for scripts/screenshots.
void TestWindows::closingEitherWindowEndsTheProgram_data()
{
    QTest::addColumn<bool>("closeMainWindow");
    QTest::newRow("main window closed while the dialog is hidden") << true;
    QTest::newRow("dialog closed while the main window is hidden") << false;
}

void TestWindows::closingEitherWindowEndsTheProgram()
{
    QFETCH(bool, closeMainWindow);
    Schema schema("closing");
    createTwoTables(schema);
    storeLogon(schema.logon());
    Program program;
    QSignalSpy ended(&program, &Program::ended);
    program.start();
    QVERIFY(program.form2().isVisible());
    if (!closeMainWindow)
        program.form2().PushButton5_Click(); // back to the dialog; the main window hides
    QWidget& closing = closeMainWindow ? static_cast<QWidget&>(program.form2()) : program.form1();
    QVERIFY(closing.isVisible());
    QVERIFY(closing.close());
    QCOMPARE(ended.count(), 1);
    QVERIFY(!program.form1().isVisible());
    QVERIFY(!program.form2().isVisible());
    QCOMPARE(said(), QString());
}

void TestWindows::closingWhileBusyEndsTheProgram_data()
{
    QTest::addColumn<bool>("duringRun"); // else while the preview fills
    QTest::newRow("closed while the preview fills") << false;
    QTest::newRow("closed while the change run refills the preview") << true;
}

void TestWindows::closingWhileBusyEndsTheProgram()
{
    QFETCH(bool, duringRun);
    Schema schema("closebusy");
    createLongTable(schema, "many", {"first", "second"});
    storeLogon(schema.logon());
    Program program;
    QSignalSpy ended(&program, &Program::ended);
    program.start();
    Window w(program.form2());
    QVERIFY(w.complete());
    QVERIFY(actWhileBusy(
        program.form2(),
        [&] {
            if (duringRun)
                clickAndWait(w.start); // operation 1, no prompt
            else
                clickEntry(w.fields, 1);
        },
        [&] { program.form2().close(); }));
    QCOMPARE(ended.count(), 1);
    QVERIFY(!program.form1().isVisible());
    QVERIFY(!program.form2().isVisible());
    QVERIFY(!program.form2().isBusy());
    QCOMPARE(said(), QString()); // no "Done."
    // Nothing more starts once the program is ending.
    clickAndWait(w.start);
    QCOMPARE(said(), QString());
    if (duringRun) { // the rows written stay written, and are counted
        // How many rows were written before the close depends on the machine's speed.
        const QString status = program.form2().findChild<QLabel*>("Label1")->text();
        const int written = status.section(u' ', 0, 0).toInt();
        QCOMPARE(schema.column("SELECT count(*) FROM many WHERE first NOT LIKE '% %'"),
                 QVariantList{written});
        QCOMPARE(status,
                 QStringLiteral("%1 of 40 rows changed \u00b7 Stopped%2")
                     .arg(written)
                     .arg(written > 0 ? QStringLiteral(" \u00b7 Undo available") : QString()));
    }
}

// The window closed and the program gone while the run thread refills the
// preview: the program waits for the thread, whose writes are journaled.
void TestWindows::programGoneMidRunWaitsForIt()
{
    Schema schema("gonemidrun");
    createLongTable(schema, "many", {"first", "second"});
    storeLogon(schema.logon());
    {
        Program program;
        program.start();
        Window w(program.form2());
        QVERIFY(w.complete());
        QTest::mouseClick(w.start, Qt::LeftButton); // operation 1, no prompt
        QVERIFY(QTest::qWaitFor([&] { return w.preview->topLevelItemCount() == 0; }));
        QVERIFY(program.form2().isBusy());
        program.form2().close();
    }
    QCOMPARE(said(), QString());                       // no "Done."
    const QList<Journal::Run> runs = Journal().runs(); // newest first
    QVERIFY(!runs.isEmpty());
    QCOMPARE(runs.first().user, schema.logon().user);
    QCOMPARE(runs.first().changed, 40);
    QCOMPARE(schema.column("SELECT count(*) FROM many WHERE first LIKE '% %'"), QVariantList{0});
}

// Another session locks the table whole: the run's read waits, and Stop
// ends the wait within a second, with nothing reported or written.
void TestWindows::stopEndsAReadWaitingForALock()
{
    if (CurrentBackend() != Backend::PostgreSQL)
        QSKIP("SQLite lets the read go on beside another connection's write");
    Schema schema("stopread");
    createLongTable(schema, "many", {"first", "second"});
    const QVariantList before = schema.column("SELECT first FROM many ORDER BY second");
    storeLogon(schema.logon());
    Program program;
    program.start();
    Form2& form = program.form2();
    Window w(form);
    auto* stop = form.findChild<QPushButton*>("PushButton7");
    QVERIFY(w.complete() && stop);
    std::optional<OpenTransaction> lock;
    lock.emplace(schema, "LOCK TABLE many IN ACCESS EXCLUSIVE MODE");
    QTest::mouseClick(w.start, Qt::LeftButton);
    QTest::qWait(300); // the read waits for the lock
    QVERIFY(form.isBusy());
    QTest::mouseClick(stop, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return !form.isBusy(); }, 1000));
    QCOMPARE(said(), QString());
    lock.reset();
    QCOMPARE(schema.column("SELECT first FROM many ORDER BY second"), before);
}

void TestWindows::failingTableListLeavesNothingOfTheLastLogon()
{
    if (CurrentBackend() != Backend::SQLite)
        QSKIP("a table list fails after its logon opened only where the file is no database");
    Schema first("first");
    createTwoTables(first);
    Schema bare("bare"); // opens, but its file holds no database to list tables from
    QFile file(bare.logon().sid);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray(4096, 'x'));
    file.close();
    storeLogon(first.logon());
    Program program;
    program.start();
    Dialog d(program.form1());
    Window w(program.form2());
    QVERIFY(d.complete() && w.complete());
    QVERIFY(!entries(w.preview).isEmpty());
    QTest::mouseClick(w.setup, Qt::LeftButton);
    d.type(bare.logon());
    QTest::mouseClick(d.next, Qt::LeftButton);
    QVERIFY(program.form2().isVisible());
    const QStringList shown = WindowInteraction::shown();
    QVERIFY2(!shown.isEmpty() && shown[0].contains("Form2.Form_Load at line 112"),
             qPrintable(said()));
    QCOMPARE(entries(w.tables), QStringList());
    QCOMPARE(entries(w.fields), QStringList());
    QCOMPARE(entries(w.preview), QStringList());
}

// The new row's buttons through a run: Stop only while it goes, the others
// only while it does not; a stopped run undone; a previewed run started from
// its dialog.
void TestWindows::previewStopAndUndo()
{
    Schema schema("stopundo");
    createLongTable(schema, "many", {"first", "second"});
    const QVariantList before = schema.column("SELECT first FROM many ORDER BY second");
    storeLogon(schema.logon());
    Program program;
    program.start();
    Form2& form = program.form2();
    auto* preview = form.findChild<QPushButton*>("PushButton6");
    auto* stop = form.findChild<QPushButton*>("PushButton7");
    auto* undo = form.findChild<QPushButton*>("PushButton8");
    auto* status = form.findChild<QLabel*>("Label1");
    QVERIFY(preview && stop && undo && status);
    Window w(form);
    auto states = [&] {
        return QList<bool>{preview->isEnabled(), stop->isEnabled(), undo->isEnabled()};
    };
    const QList<bool> idle{true, false, true};
    QCOMPARE(states(), idle);

    QList<bool> during;
    QVERIFY(actWhileBusy(
        form, [&] { clickAndWait(w.start); },
        [&] {
            // Once the rows are written: the refill of the preview began.
            QVERIFY(QTest::qWaitFor([&] { return w.preview->topLevelItemCount() == 0; }));
            during = states();
            QTest::mouseClick(stop, Qt::LeftButton);
        }));
    QCOMPARE(during, (QList<bool>{false, true, false}));
    QCOMPARE(states(), idle);
    QVERIFY2(status->text().contains(" \u00b7 Stopped \u00b7 Undo available"),
             qPrintable(status->text() + " / " + said()));
    QCOMPARE(said(), QString()); // no "Done."

    clickAndWait(undo);
    QVERIFY2(said().startsWith("question: Undo this change?") && said().contains("message: Undo: "),
             qPrintable(said()));
    QCOMPARE(schema.column("SELECT first FROM many ORDER BY second"), before);
    QCOMPARE(entries(w.preview), previewOf(schema, "many", "first"));

    WindowInteraction::clearShown();
    QString listed;
    QTimer accept;
    accept.setInterval(10);
    connect(&accept, &QTimer::timeout, this, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog->objectName() != "ChangesDialog")
            return;
        accept.stop();
        listed = dialog->findChild<QLabel*>("Label1")->text() +
                 QStringLiteral(" | %1").arg(
                     dialog->findChild<QTreeWidget*>("ListView1")->topLevelItemCount());
        QTest::mouseClick(dialog->findChild<QPushButton*>("PushButton1"), Qt::LeftButton);
    });
    accept.start();
    clickAndWait(preview);
    QCOMPARE(listed, QStringLiteral("40 of 40 rows will change; 0 cannot be changed | 40"));
    QCOMPARE(said(), QStringLiteral("message: Done."));
    QCOMPARE(schema.column("SELECT count(*) FROM many WHERE first LIKE '% %'"), QVariantList{0});
    QCOMPARE(status->text(), QStringLiteral("40 of 40 rows changed \u00b7 Undo available"));
}

void TestWindows::onlyStopTakesInputDuringRun_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("disabledBefore"); // a control the run must leave disabled
    QTest::addColumn<QString>("after");          // the status line when it ended
    QTest::newRow("Start Changing, at its prompt") << "PushButton1"
                                                   << "Check1"
                                                   << "40 of 40 rows changed \u00b7 Undo available";
    QTest::newRow("Preview Changes, at its prompt") << "PushButton6"
                                                    << "Combo1"
                                                    << "Preview: 40 of 40 rows will change";
    QTest::newRow("Undo Last Change, waiting for a locked row") << "PushButton8"
                                                                << "ListView2"
                                                                << "Undo: 40 of 40 rows restored";
}

void TestWindows::onlyStopTakesInputDuringRun()
{
    QFETCH(QString, button);
    QFETCH(QString, disabledBefore);
    QFETCH(QString, after);
    const bool undo = button == "PushButton8";
    if (undo && CurrentBackend() != Backend::PostgreSQL)
        QSKIP("SQLite locks the whole file, not a row");
    Schema schema("runinput");
    createLongTable(schema, "many", {"first", "second"});
    storeLogon(schema.logon());
    Program program;
    program.start();
    Form2& form = program.form2();
    Window w(form);
    auto* status = form.findChild<QLabel*>("Label1");
    QVERIFY(w.complete() && status);
    clickAndWait(w.start); // the run whose counts are shown
    const QString counts = status->text();
    QCOMPARE(counts, QStringLiteral("40 of 40 rows changed \u00b7 Undo available"));

    form.findChild<QWidget*>(disabledBefore)->setEnabled(false);
    const QList<bool> before = enabledStates(form);
    QList<bool> during;
    QString statusDuring = counts;
    auto look = [&] {
        during = enabledStates(form);
        statusDuring = status->text();
    };
    WindowInteraction::clearShown();
    if (undo) {
        // The undo waits for a row another session holds; the user looks
        // then, and the other session lets go.
        auto holder =
            std::make_unique<OpenTransaction>(schema, "UPDATE many SET first = first WHERE "
                                                      "second = 'b 5'");
        QVERIFY(actWhileBusy(
            form, [&] { clickAndWait(form.findChild<QPushButton*>(button)); },
            [&] {
                look();
                holder.reset();
            }));
    } else {
        w.operations->setCurrentIndex(w.operations->findText(RemoveFirst));
        WindowInteraction::setNextAnswers({"1"});
        WindowInteraction::setOnPrompt(look);
        answerChangesDialog([&] { clickAndWait(form.findChild<QPushButton*>(button)); },
                            [](QDialog&) {});
    }
    QList<bool> onlyStop(InputControls.size(), false);
    onlyStop[InputControls.indexOf("ListView3")] = true; // the run refills it
    onlyStop.last() = true;
    QCOMPARE(during, onlyStop);
    QVERIFY2(Activity.match(statusDuring).hasMatch(), qPrintable(statusDuring));
    QCOMPARE(enabledStates(form), before);
    QCOMPARE(status->text(), after);
    QVERIFY(!form.isBusy());
}

void TestWindows::statusLineFollowsSelection_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("kept");
    QTest::newRow("another field chosen") << "field" << false;
    QTest::newRow("another table chosen") << "table" << false;
    QTest::newRow("the same table clicked again") << "same table" << true;
    QTest::newRow("back to the field it ran on: stays clear") << "back" << false;
    QTest::newRow("a new run cancelled at its prompt") << "cancel" << false;
    QTest::newRow("Setup Oracle Connection, then Next >") << "logon" << false;
}

void TestWindows::statusLineFollowsSelection()
{
    QFETCH(QString, action);
    QFETCH(bool, kept);
    Schema schema("status");
    createTwoTables(schema);
    storeLogon(schema.logon());
    Program program;
    program.start();
    Window w(program.form2());
    auto* status = program.form2().findChild<QLabel*>("Label1");
    QVERIFY(w.complete() && status);
    const int table = w.tables->indexOfTopLevelItem(w.tables->currentItem());
    clickAndWait(w.start);
    const QString counts = status->text();
    QVERIFY2(counts.contains(" rows changed"), qPrintable(counts + " / " + said()));
    WindowInteraction::clearShown();
    if (action == "field") {
        clickEntry(w.fields, 1);
    } else if (action == "table") {
        clickEntry(w.tables, 1 - table);
    } else if (action == "same table") {
        clickEntry(w.tables, table);
    } else if (action == "back") {
        clickEntry(w.fields, 1);
        clickEntry(w.fields, 0);
    } else if (action == "cancel") {
        w.operations->setCurrentIndex(w.operations->findText(ReplaceSpaces));
        clickAndWait(w.start); // no answer: Cancel
        QVERIFY2(said().startsWith("prompt: Replace With:"), qPrintable(said()));
    } else if (action == "logon") {
        QTest::mouseClick(w.setup, Qt::LeftButton);
        QTest::mouseClick(Dialog(program.form1()).next, Qt::LeftButton);
        QVERIFY(program.form2().isVisible());
        QCOMPARE(w.tables->currentItem()->text(0), w.tables->topLevelItem(table)->text(0));
    }
    QCOMPARE(status->text(), kept ? counts : QString());
}

void TestWindows::activityTexts_data()
{
    QTest::addColumn<int>("call"); // 0 reading, 1 writing, 2 waiting
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<QString>("text");
    QTest::newRow("reading") << 0 << 0 << 0 << "Reading rows...";
    QTest::newRow("writing, with thousands separators")
        << 1 << 12000 << 100000 << "Writing: 12,000 of 100,000";
    QTest::newRow("writing, the first rows") << 1 << 0 << 999 << "Writing: 0 of 999";
    QTest::newRow("waiting") << 2 << 0 << 0 << "Waiting for a locked row...";
}

// What a run tells the main window it is doing shows on the status line.
void TestWindows::activityTexts()
{
    QFETCH(int, call);
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(QString, text);
    Program program;
    Form2& form = program.form2();
    auto* status = form.findChild<QLabel*>("Label1");
    QVERIFY(status);
    // The window is its runs' ports (a private base), as a run calls them.
    RunObserver& ports = (RunObserver&)form;
    if (call == 0)
        ports.showReading();
    else if (call == 1)
        ports.showWriting(done, total);
    else
        ports.showWaiting();
    QCOMPARE(status->text(), text);
    QVERIFY(Activity.match(text).hasMatch());
}

void TestWindows::previewListsFailingRows_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("counts");
    QTest::addColumn<QStringList>("listed"); // value, then reason
    const QString invalid = QStringLiteral("Invalid procedure call or argument");
    QTest::newRow("values shorter than the count")
        << "12"
        << "2 of 5 rows will change; 3 cannot be changed"
        << QStringList{"short", invalid, "tiny", invalid, "\u00b7ab", invalid};
    QTest::newRow("a count too large: the first row tells, the preview ends")
        << "40000"
        << "0 of 5 rows will change; 1 cannot be changed"
        << QStringList{"abcdefghijklmno", "Overflow"};
}

// A preview lists the rows that cannot be changed, with the reason, in its
// dialog: no report box, nothing written.
void TestWindows::previewListsFailingRows()
{
    QFETCH(QString, answer);
    QFETCH(QString, counts);
    QFETCH(QStringList, listed);
    Schema schema("failing");
    createTable(schema, "codes", {"code"},
                {{"abcdefghijklmno"}, {"short"}, {"exactly12chr"}, {"tiny"}, {" ab"}});
    const QVariantList before = schema.column("SELECT code FROM codes");
    storeLogon(schema.logon());
    Program program;
    program.start();
    Window w(program.form2());
    QVERIFY(w.complete());
    w.operations->setCurrentIndex(w.operations->findText(RemoveLast));
    WindowInteraction::setNextAnswers({answer});
    QString label;
    QStringList headers, shown;
    bool listVisible = false;
    answerChangesDialog(
        [&] { clickAndWait(program.form2().findChild<QPushButton*>("PushButton6")); },
        [&](QDialog& dialog) {
            label = dialog.findChild<QLabel*>("Label1")->text();
            const auto* failing = dialog.findChild<QTreeWidget*>("ListView2");
            QVERIFY(failing);
            listVisible = failing->isVisible();
            headers = headerTexts(failing);
            for (int i = 0; i < failing->topLevelItemCount(); ++i)
                shown << failing->topLevelItem(i)->text(0) << failing->topLevelItem(i)->text(1);
        });
    QCOMPARE(said(), QStringLiteral("prompt: Enter Number:"));
    QCOMPARE(label, counts);
    QVERIFY(listVisible);
    QCOMPARE(headers, QStringList({"Value", "Reason"}));
    QCOMPARE(shown, listed);
    QCOMPARE(schema.column("SELECT code FROM codes"), before);
}

void TestWindows::screenshots()
{
    if (qEnvironmentVariableIsEmpty("QUORVANE_SCREENSHOT_DIR"))
        QSKIP("QUORVANE_SCREENSHOT_DIR is not set");
    Schema schema("shots");
    createTable(schema, "customers", {"full_name", "phone", "notes"},
                {{"Ann  Lee ", "555 123-4567", "calls\tafter 5"},
                 {" Bob Stone", "555-0000 ", QVariant()},
                 {"Cyrus  O'Neil", " 555 9876", "line one\r\nline two"},
                 {"Dina Park", QVariant(), "vip"}});
    createTable(schema, "orders", {"item", "quantity"}, {{"pen", "2"}, {"ink", "10"}});
    createTable(schema, "suppliers", {"company"}, {{"Acme  Ltd"}});
    Program program;
    startAtDialog(program);
    Dialog d(program.form1());
    Window w(program.form2());
    QVERIFY(d.complete() && w.complete());
    d.type(schema.logon());
    saveScreenshot(program.form1(), "form1.png");
    QTest::mouseClick(d.next, Qt::LeftButton);
    QVERIFY(program.form2().isVisible());
    const int customers = entries(w.tables).indexOf("customers");
    QVERIFY(customers >= 0);
    clickEntry(w.tables, customers);
    clickEntry(w.fields, 0);
    saveScreenshot(program.form2(), "form2.png");
    // A preview whose shorter values cannot be changed, then the run.
    w.operations->setCurrentIndex(w.operations->findText(RemoveLast));
    WindowInteraction::setNextAnswers({"10"});
    WindowInteraction::setOnPrompt([&] { saveScreenshot(program.form2(), "form2-running.png"); });
    answerChangesDialog(
        [&] { clickAndWait(program.form2().findChild<QPushButton*>("PushButton6")); },
        [&](QDialog& dialog) { saveScreenshot(dialog, "changes.png"); }, true);
    saveScreenshot(program.form2(), "form2-after.png");
}

int main(int argc, char* argv[])
{
    // The program's own settings store, never the user's.
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    WindowInteraction::setScripted(true);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windows.moc"

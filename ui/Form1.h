#pragma once

#include "db/Drivers.h"
#include "ui/Look.h"

#include <QWidget>

class Form2;
class Interaction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The connection dialog: the logon (SID, user name, password, and below them
// the ODBC driver), its test, the SID help, and "Next >" to the main window.
// It stays loaded for the whole run; its boxes and its driver list are the
// only place the current logon lives.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(Interaction& ui, QWidget* parent = nullptr);

    void setMainWindow(Form2* form2) { m_form2 = form2; }

    // The logon as the three boxes and the driver list hold it now.
    Logon logon() const;

    MousePointerControl& mousePointer() { return *m_pointer; }

    // The start-up sequence.
    void Form_Load();
    // "?": the SID help.
    void PushButton1_Click();
    // "Next >".
    void PushButton3_Click();
    // "Test Connection".
    void PushButton5_Click();
    // "Help": the SID help, then the data type note.
    void PushButton6_Click();

    // The SID help for Oracle's drivers (and any the program does not know).
    static QString SidHelpText();
    // The SID help for the driver family: the form its SID takes.
    static QString SidHelpText(Oracle::DriverFamily family);
    static QString DataTypeNote();

signals:
    // The window was closed: the program ends.
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void saveOnChange(QLineEdit* box, const QString& key);
    // Writes the text to the key; a store that cannot be written is said.
    void save(const QString& key, const QString& text);
    // The driver list: the default driver first, then the drivers and data
    // sources installed, each once.
    void listDrivers(const QList<Oracle::OdbcEntry>& installed);
    // Chooses the driver (empty: the default), listed also when it is not
    // installed (any more), so that the logon stays as it was saved.
    void chooseDriver(const QString& driver);
    Oracle::DriverFamily driverFamily() const;

    Interaction& m_ui;
    Form2* m_form2 = nullptr;
    MousePointerControl* m_pointer;

    QGroupBox* Frame1;
    QLabel* Label2;
    QLineEdit* Text1;
    QPushButton* PushButton1;
    QLabel* Label1;
    QLineEdit* Text2;
    QLabel* Label4;
    QLineEdit* Text3;
    QPushButton* PushButton5;
    QPushButton* PushButton6;
    QPushButton* PushButton3;
    QLabel* Label5;
    QComboBox* Combo1;
    QList<Oracle::OdbcEntry> m_drivers; // as listed
};

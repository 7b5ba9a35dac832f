#pragma once

#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/WindowInteraction.h"

#include <QObject>

// The two windows of the program and their start: the connection dialog
// runs the start-up sequence, then the dialog or the main window is shown.
// Closing either window ends the program.
class Program : public QObject
{
    Q_OBJECT

public:
    Program();
    ~Program() override;

    void start();

    Form1& form1() { return *m_form1; }
    Form2& form2() { return *m_form2; }

signals:
    void ended();

private:
    void end();

    WindowInteraction m_ui;
    Form1* m_form1;
    Form2* m_form2;
};

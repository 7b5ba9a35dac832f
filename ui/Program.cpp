#include "ui/Program.h"

#include <QCoreApplication>

Program::Program() : m_form1(new Form1(m_ui)), m_form2(new Form2(m_ui, *m_form1))
{
    m_form1->setMainWindow(m_form2);
    connect(m_form1, &Form1::unloaded, this, &Program::end);
    connect(m_form2, &Form2::unloaded, this, &Program::end);
}

Program::~Program()
{
    delete m_form2;
    delete m_form1;
}

void Program::start()
{
    m_form2->pruneJournal();
    m_form1->Form_Load();
    if (!m_form2->isVisible())
        m_form1->show();
}

// Either window closed: the other goes with it, nothing is asked or saved.
void Program::end()
{
    m_form2->endWork();
    m_form1->hide();
    m_form2->hide();
    emit ended();
    QCoreApplication::quit();
}

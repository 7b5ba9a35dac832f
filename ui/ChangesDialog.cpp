#include "ui/ChangesDialog.h"

#include "app/Main.h"
#include "ui/Look.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

ChangesDialog::ChangesDialog(int rows, int changing, int failing, const QList<Change>& first,
                             QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("ChangesDialog"));
    setWindowTitle(Main::ApplicationTitle());
    setFont(Look::BoldArial(9));
    resize(Look::Twips(9000, this), Look::Twips(6000, this));

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setText(QStringLiteral("%1 of %2 rows will change; %3 cannot be changed")
                        .arg(Look::Count(changing), Look::Count(rows), Look::Count(failing)));

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setColumnCount(2);
    ListView1->setHeaderLabels({QStringLiteral("Old"), QStringLiteral("New")});
    ListView1->header()->setSectionResizeMode(QHeaderView::Stretch);
    QList<QTreeWidgetItem*> items;
    items.reserve(first.size());
    for (const Change& change : first)
        items << new QTreeWidgetItem(
            QStringList{Visible(change.oldValue), Visible(change.newValue)});
    ListView1->addTopLevelItems(items);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    if (changing > first.size())
        Label2->setText(QStringLiteral("The first %1 of %2 changing rows are listed.")
                            .arg(Look::Count(int(first.size())), Look::Count(changing)));
    Label2->setVisible(changing > first.size());

    PushButton1 = new QPushButton(QStringLiteral("Start Changing"), this);
    PushButton1->setObjectName(QStringLiteral("PushButton1"));
    PushButton1->setEnabled(changing > 0);
    PushButton2 = new QPushButton(QStringLiteral("Close"), this);
    PushButton2->setObjectName(QStringLiteral("PushButton2"));
    PushButton2->setDefault(true);
    connect(PushButton1, &QPushButton::clicked, this, &QDialog::accept);
    connect(PushButton2, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(PushButton1);
    buttons->addWidget(PushButton2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(ListView1);
    layout->addWidget(Label2);
    layout->addLayout(buttons);
}

QString ChangesDialog::Visible(const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("\u27e8empty\u27e9");
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u' ':
            shown += u'\u00b7';
            break;
        case u'\t':
            shown += u'\u2192';
            break;
        case u'\r':
            shown += u'\u240d';
            break;
        case u'\n':
            shown += u'\u240a';
            break;
        default:
            shown += c;
        }
    }
    return shown;
}

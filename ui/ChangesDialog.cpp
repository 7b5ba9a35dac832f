#include "ui/ChangesDialog.h"

#include "app/Main.h"
#include "ui/Look.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{

QTreeWidget* makeList(QWidget* parent, const char* name, const QStringList& headers)
{
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setColumnCount(int(headers.size()));
    list->setHeaderLabels(headers);
    list->header()->setSectionResizeMode(QHeaderView::Stretch);
    return list;
}

// "The first N of M <rows> are listed.", shown only when not all are.
QLabel* makeListedNote(QWidget* parent, const char* name, qsizetype listed, int all,
                       const QString& rows)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    if (all > listed)
        label->setText(QStringLiteral("The first %1 of %2 %3 are listed.")
                           .arg(Look::Count(int(listed)), Look::Count(all), rows));
    label->setVisible(all > listed);
    return label;
}

} // namespace

ChangesDialog::ChangesDialog(int rows, int changing, int failing, const QList<Change>& first,
                             const QList<Failure>& firstFailures, QWidget* parent)
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

    ListView1 = makeList(this, "ListView1", {QStringLiteral("Old"), QStringLiteral("New")});
    QList<QTreeWidgetItem*> items;
    items.reserve(first.size());
    for (const Change& change : first)
        items << new QTreeWidgetItem(
            QStringList{Visible(change.oldValue), Visible(change.newValue)});
    ListView1->addTopLevelItems(items);

    Label2 =
        makeListedNote(this, "Label2", first.size(), changing, QStringLiteral("changing rows"));

    ListView2 = makeList(this, "ListView2", {QStringLiteral("Value"), QStringLiteral("Reason")});
    items.clear();
    items.reserve(firstFailures.size());
    for (const Failure& failure : firstFailures)
        items << new QTreeWidgetItem(QStringList{Visible(failure.value), failure.reason});
    ListView2->addTopLevelItems(items);

    Label3 = makeListedNote(this, "Label3", firstFailures.size(), failing,
                            QStringLiteral("rows that cannot be changed"));
    ListView2->setVisible(failing > 0); // nothing to list when every row can be changed

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
    layout->addWidget(ListView1, 3);
    layout->addWidget(Label2);
    layout->addWidget(ListView2, 2);
    layout->addWidget(Label3);
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

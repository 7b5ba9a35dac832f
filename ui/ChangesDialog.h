#pragma once

#include "change/Change.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;

// What a run would change, before it is written: "N of M rows will change;
// K cannot be changed", then the changing rows, old and new side by side
// (the first 1,000), and below them the rows that cannot be changed, each
// value with the reason (the first 1,000); blanks, tabs and line breaks are
// made visible. "Start Changing" accepts it, "Close" rejects it.
class ChangesDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int ListedChanges = 1000;
    static constexpr int ListedFailures = 1000;

    // A value whose new value cannot be computed, and why.
    struct Failure {
        QString value;
        QString reason;
    };

    ChangesDialog(int rows, int changing, int failing, const QList<Change>& first,
                  const QList<Failure>& firstFailures, QWidget* parent = nullptr);

    // The text as the list shows it: a blank as "·", a tab as "→", CR and
    // LF as "␍" and "␊"; the empty text as "⟨empty⟩".
    static QString Visible(const QString& text);

private:
    QLabel* Label1;
    QTreeWidget* ListView1;
    QLabel* Label2;
    QTreeWidget* ListView2;
    QLabel* Label3;
    QPushButton* PushButton1;
    QPushButton* PushButton2;
};

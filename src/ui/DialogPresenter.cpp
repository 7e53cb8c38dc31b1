#include "DialogPresenter.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

class SystemDialogPresenter final : public DialogPresenter
{
public:
    int run(const Alert &alert, QWidget *parent) override
    {
        QMessageBox box(parent);
        box.setText(alert.messageText);
        box.setInformativeText(alert.informativeText);
        QList<QPushButton *> buttons;
        for (const QString &title : alert.buttons)
            buttons.append(box.addButton(title, QMessageBox::AcceptRole));
        if (!buttons.isEmpty())
            box.setDefaultButton(buttons.constFirst());
        box.exec();
        return static_cast<int>(buttons.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
    }
};

} // namespace

DialogPresenter &DialogPresenter::system()
{
    static SystemDialogPresenter presenter;
    return presenter;
}

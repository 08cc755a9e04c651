// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/ProfileChooser.h"

namespace kv {

ProfileChooser::ProfileChooser(const std::vector<ProfileMenuItem>& items, QWidget* parent)
    : Popup(parent) {
    int number = 0;
    for (const ProfileMenuItem& item : items) {
        // Profile names are shown as written: "&" is no mnemonic here.
        QString label = QString::fromStdString(item.Name);
        label.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* action = Popup.addAction(label);
        action->setCheckable(true);
        action->setChecked(item.Checked);
        action->setData(++number);
    }
}

QAction* ProfileChooser::Item(int number) const {
    const QList<QAction*> actions = Popup.actions();
    return number >= 1 && number <= actions.size() ? actions[number - 1] : nullptr;
}

int ProfileChooser::NumberOf(const QAction* action) {
    return action ? action->data().toInt() : 0;
}

QPoint ProfileChooser::PlaceAt(QPoint pointer) const {
    return {pointer.x() - Popup.sizeHint().width() / 2, pointer.y()};
}

int ProfileChooser::Exec(QPoint pointer) {
    return NumberOf(Popup.exec(PlaceAt(pointer)));
}

} // namespace kv

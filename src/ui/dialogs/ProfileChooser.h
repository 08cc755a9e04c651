// SPDX-License-Identifier: GPL-3.0-or-later
// The pop-up list of the "Load profile" command: the profiles of the profile file in file order,
// numbered from 1, then "<none>"; the selected profile (or "<none>") carries a check mark.
#pragma once

#include <QMenu>
#include <QPoint>
#include <vector>

#include "settings/Profiles.h"

namespace kv {

class ProfileChooser {
public:
    explicit ProfileChooser(const std::vector<ProfileMenuItem>& items, QWidget* parent = nullptr);

    QMenu& Menu() { return Popup; }
    // The entry with the given number (1 upward), or null.
    QAction* Item(int number) const;
    // The number of an entry, 0 for null.
    static int NumberOf(const QAction* action);

    // Where the menu's top left corner goes so that it is centred horizontally on `pointer`.
    QPoint PlaceAt(QPoint pointer) const;
    // Shows the menu at `pointer` and waits for the choice: its number, 0 when nothing was chosen.
    int Exec(QPoint pointer);

private:
    QMenu Popup;
};

} // namespace kv

// SPDX-License-Identifier: GPL-3.0-or-later
// The window's part of positional runs: it answers the run's questions (the prompt to turn the
// watch is drawn in the middle of the view; the annotate dialog asks for the results file, title
// and comment) and chooses the results text file (command 32898 and the dialog's Browse).
#pragma once

#include <QString>

#include "positions/PositionalRun.h"

namespace kv {

class CChildView;

class ViewPositionUser : public PositionalRunUser {
public:
    explicit ViewPositionUser(CChildView& view) : View(view) {}
    void AskToTurnWatch() override;
    std::optional<ResultsAnnotation> AnnotateResults(const ResultsAnnotation& proposed) override;

private:
    CChildView& View;
};

// The file dialog for the results text file, starting at `initial`; empty when cancelled.
QString ChooseResultsFile(CChildView& view, const QString& initial);
// Command 32898: the chosen file becomes the results file and the settings are saved.
void ChooseTextFileCommand(CChildView& view);

} // namespace kv

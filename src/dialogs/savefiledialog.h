// The question where to save a file. The dialog lists folders by name and kind alone: it opens
// no file to find out what it holds. Looking into a file (its icon, its type) opens and closes
// it, and closing any descriptor of a file drops every lock this process holds on it, such as
// SQLite's locks on the production ledger and its log files.
#pragma once

#include <QString>

class QWidget;

// The path chosen, or empty when the operator cancelled. The dialog starts in the user's home
// folder with `name` as the file's name.
QString AskSaveFileName(QWidget* parent, const QString& caption, const QString& name,
                        const QString& filter);

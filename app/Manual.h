// The technician's manual: a PDF that the zip, the MSI and a build put beside
// the program, and the Debian package into its doc folder.
#pragma once

#include <QString>
#include <QStringList>

// Where the manual is looked for, in this order, for a program in
// `programFolder`: beside it, then in the doc folder of an installed package
// (../../share/doc/qs730-view from /usr/lib/qs730-view).
QStringList ManualCandidates(const QString& programFolder);
// The first of them that is a file; empty when there is none.
QString FindManual(const QString& programFolder);
// Opens the running program's manual in the system's viewer for PDF files.
// Throws Exception "Не найдено руководство пользователя «<name>»" when there
// is none, "Невозможно открыть файл «<path>»" when no viewer takes it.
void OpenManual();

#pragma once

class QWidget;
class TTable;

// What the editors' Import… and Export… buttons do, for either directory: pick the
// file, then read, check and preview it and write it in one go (import), or write the
// table as it is (export). A file that cannot be read or written is told in a box
// naming the file (and the line); the table is then untouched. The caller writes the
// grid's pending row first.
void ImportDirectoryFile(QWidget *parent, TTable *table);
void ExportDirectoryFile(QWidget *parent, TTable *table);

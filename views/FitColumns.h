#pragma once
// A tree's columns as wide as their widest text, for trees of thousands of
// rows: Qt's ResizeToContents asks the delegate of every cell for its size,
// tens of milliseconds for a thousand rows. Here a text's width is summed
// from its characters' advances, and the widest text of each column is then
// measured whole. Rows whose first column spans the row count for none.
class QTreeWidget;

void FitColumns(QTreeWidget& tree);

// The folder tree of the window: a QTreeView over the file system's folders,
// rooted at "/", with an event before the selected folder changes that may
// refuse the change and an event after it changed.
#pragma once

#include <QItemSelectionModel>
#include <QObject>
#include <QString>
#include <functional>

class QFileSystemModel;
class QTreeView;

namespace morvik {

class TFolderTree : public QObject {
    Q_OBJECT
public:
    // The tree view is owned by its Qt parent; the model and the selection
    // model belong to the view.
    explicit TFolderTree(QTreeView* view);

    QTreeView* View() const { return m_view; }
    // The selected folder ("/home/a/Music", "/"), or empty when nothing is
    // selected.
    QString Directory() const;
    // Selects a folder by path, as if the user had clicked it: the
    // before-change handler may refuse. Returns false for a path that is not
    // an existing folder or when the change was refused.
    bool SetDirectory(const QString& path);

    // Asked before the selection moves to `newPath`; false keeps it.
    std::function<bool(const QString& newPath)> OnChanging;
    // Called after the selection moved.
    std::function<void()> OnChange;

private:
    class GuardedSelection;
    bool allowMove(const QModelIndex& to);
    void currentMoved(const QModelIndex& current, const QModelIndex& previous);

    QTreeView* m_view;
    QFileSystemModel* m_model;
};

} // namespace morvik

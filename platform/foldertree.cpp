#include "platform/foldertree.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTreeView>

namespace morvik {

// Every way the view changes its current folder (mouse, keys, our own
// SetDirectory) passes through these two overrides, so a refusal from
// OnChanging keeps the old folder selected.
class TFolderTree::GuardedSelection : public QItemSelectionModel {
public:
    GuardedSelection(QAbstractItemModel* model, TFolderTree* owner, QObject* parent)
        : QItemSelectionModel(model, parent), m_owner(owner)
    {
    }

    void setCurrentIndex(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override
    {
        if (index != currentIndex() && !m_owner->allowMove(index))
            return;
        m_moving = true;
        QItemSelectionModel::setCurrentIndex(index, command);
        m_moving = false;
    }

    // The highlighted folder always follows the current one, so a selection
    // that leaves the current folder out (a click whose move was refused) is
    // ignored.
    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override
    {
        if (!m_moving && !selection.isEmpty() && !selection.contains(currentIndex()))
            return;
        QItemSelectionModel::select(selection, command);
    }
    using QItemSelectionModel::select;

private:
    TFolderTree* m_owner;
    bool m_moving = false;
};

TFolderTree::TFolderTree(QTreeView* view) : QObject(view), m_view(view)
{
    m_model = new QFileSystemModel(view);
    m_model->setFilter(QDir::AllDirs | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    m_model->setReadOnly(true);
    m_model->setRootPath(QStringLiteral("/"));
    view->setModel(m_model);
    auto* selection = new GuardedSelection(m_model, this, view);
    QItemSelectionModel* old = view->selectionModel();
    view->setSelectionModel(selection);
    delete old;
    view->setRootIndex(m_model->index(QStringLiteral("/")).parent());
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        view->hideColumn(column);
    connect(selection, &QItemSelectionModel::currentChanged, this, &TFolderTree::currentMoved);
}

bool TFolderTree::allowMove(const QModelIndex& to)
{
    return !OnChanging || OnChanging(m_model->filePath(to));
}

void TFolderTree::currentMoved(const QModelIndex& current, const QModelIndex&)
{
    if (current.isValid())
        m_view->scrollTo(current);
    if (OnChange)
        OnChange();
}

QString TFolderTree::Directory() const
{
    const QModelIndex current = m_view->selectionModel()->currentIndex();
    return current.isValid() ? m_model->filePath(current) : QString();
}

bool TFolderTree::SetDirectory(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isDir())
        return false;
    const QModelIndex index = m_model->index(QDir::cleanPath(info.absoluteFilePath()));
    if (!index.isValid())
        return false;
    m_view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    return m_view->selectionModel()->currentIndex() == index;
}

} // namespace morvik

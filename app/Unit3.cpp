#include "app/Unit3.h"

Tversion::Tversion(QWidget* parent) : QDialog(parent)
{
    setModal(true);
}

#include "app/Unit4.h"

TForm4::TForm4(QWidget* parent) : QDialog(parent)
{
    setModal(true);
}

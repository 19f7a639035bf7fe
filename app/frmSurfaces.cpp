#include "app/frmSurfaces.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

frmSurfaces::frmSurfaces(QWidget *parent) : QDialog(parent), m_pages(new QTabWidget(this)) {
    setObjectName(QStringLiteral("frmSurfaces"));
    setWindowTitle(QStringLiteral("Control Surfaces"));
    m_pages->setObjectName(QStringLiteral("surfacePages"));
    m_pages->setAccessibleName(QStringLiteral("Surfaces"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);
}

void frmSurfaces::addPage(QWidget *page, const QString &title) {
    page->setAccessibleName(title);
    m_pages->addTab(page, title);
}

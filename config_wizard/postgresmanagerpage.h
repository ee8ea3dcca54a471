#pragma once

#include "accountpage.h"

class QLineEdit;

// The web manager's default administrator, and the host it reaches the database from.
class PostgresManagerPage : public AccountPage
{
    Q_OBJECT
public:
    explicit PostgresManagerPage(QWidget *parent = nullptr);
    int nextId() const override;
    bool validatePage() override;

private:
    QLineEdit *hostEdit = nullptr;
};

#pragma once

#include "accountpage.h"

// The database server's root account.
class PostgresAdminPage : public AccountPage
{
    Q_OBJECT
public:
    explicit PostgresAdminPage(QWidget *parent = nullptr);
    int nextId() const override;
};

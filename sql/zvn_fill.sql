-- Default rows, loaded as one batch right after the structure file (PostgreSQL and SQLite alike).
-- The first administrator is not created here: the configuration run inserts it with the
-- password the installer chose. Jobs, applications and discovery ranges are the web manager's.

-- A database loaded from these files starts with every machine offline; the server marks
-- a machine online when its agent next reports.
UPDATE machines SET status = 0;

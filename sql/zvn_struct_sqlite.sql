-- Every table the Kelvarix server and the web manager share.
-- Identifiers are unquoted on purpose: statements name them in mixed case.
-- Columns fed from inventory documents are text, so no reported value is ever refused;
-- numeric types only where the server writes numbers itself.
-- The embedded (SQLite) variant: load it with  sqlite3 zvndb.sqlite < zvn_struct_sqlite.sql
-- Date-times are stored as text in the form yyyy-MM-dd hh:mm:ss.

CREATE TABLE users (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    username   TEXT,
    passwd     TEXT,
    full_name  TEXT,
    user_level INTEGER,
    created_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);

CREATE TABLE machines (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    name       TEXT,
    peerip     TEXT,
    port       INTEGER DEFAULT 0,
    agentType  INTEGER DEFAULT 0,
    status     INTEGER DEFAULT 0,
    uuid       INTEGER,
    created_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);

CREATE TABLE jobs (
    id            INTEGER PRIMARY KEY AUTOINCREMENT,
    creator       INTEGER,
    cmd           INTEGER,
    prm           INTEGER,
    prm2          INTEGER,
    prm3          TEXT,
    scheduleType  INTEGER,
    scheduleDate  TEXT,
    scheduleCount INTEGER,
    created_at    TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at    TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);

CREATE TABLE job_machines (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    creator    INTEGER,
    machine    INTEGER,
    job        INTEGER,
    active     INTEGER DEFAULT 0,
    status     INTEGER,
    reportData TEXT,
    created_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX job_machines_machine_idx ON job_machines (machine);
CREATE INDEX job_machines_active_idx ON job_machines (active);

CREATE TABLE job_groups (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    name       TEXT,
    job        INTEGER,
    created_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX job_groups_job_idx ON job_groups (job);

CREATE TABLE applications (
    id                INTEGER PRIMARY KEY AUTOINCREMENT CHECK (id BETWEEN 1 AND 255),
    name              TEXT,
    fileName          TEXT,
    execName          TEXT,
    installSwitches   TEXT,
    uninstallname     TEXT,
    uninstallSwitches TEXT,
    created_at        TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at        TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);

CREATE TABLE discoveries (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    net_ip     TEXT,
    mask       TEXT,
    port       INTEGER DEFAULT 0,
    created_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);

CREATE TABLE alarms (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    alarm_id   INTEGER,
    data       TEXT,
    mid        INTEGER,
    created_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX alarms_mid_idx ON alarms (mid);

CREATE TABLE os_details (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    OS_Caption      TEXT,
    OS_Version      TEXT,
    OS_Servicepack  TEXT,
    OS_Architecture TEXT,
    OS_SerialNumber TEXT,
    name            TEXT,
    mid             INTEGER,
    created_at      TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at      TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX os_details_mid_idx ON os_details (mid);

CREATE TABLE memories (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    memory_id   TEXT,
    form        TEXT,
    detail      TEXT,
    memory_type TEXT,
    size        TEXT,
    speed       TEXT,
    mid         INTEGER,
    created_at  TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at  TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX memories_mid_idx ON memories (mid);

CREATE TABLE drives (
    id                 INTEGER PRIMARY KEY AUTOINCREMENT,
    name               TEXT,
    description        TEXT,
    filesystem         TEXT,
    size               TEXT,
    volumeSerialNumber TEXT,
    available          TEXT,
    mid                INTEGER,
    created_at         TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at         TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX drives_mid_idx ON drives (mid);

CREATE TABLE cpus (
    id            INTEGER PRIMARY KEY AUTOINCREMENT,
    cpu_id        TEXT,
    name          TEXT,
    manufacturer  TEXT,
    description   TEXT,
    processorid   TEXT,
    architecture  TEXT,
    numberofcores TEXT,
    maxclockspeed TEXT,
    mid           INTEGER,
    created_at    TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at    TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX cpus_mid_idx ON cpus (mid);

CREATE TABLE video_controllers (
    id                      INTEGER PRIMARY KEY AUTOINCREMENT,
    name                    TEXT,
    adapterram              TEXT,
    acceleratorcapabilities TEXT,
    adapterdactype          TEXT,
    driverversion           TEXT,
    installeddrivers        TEXT,
    videomode               TEXT,
    videoarch               TEXT,
    videomemtype            TEXT,
    mid                     INTEGER,
    created_at              TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at              TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX video_controllers_mid_idx ON video_controllers (mid);

CREATE TABLE network_adapters (
    id               INTEGER PRIMARY KEY AUTOINCREMENT,
    name             TEXT,
    adaptertype      TEXT,
    manufacturer     TEXT,
    macaddress       TEXT,
    dhcpenabled      TEXT,
    ipaddress        TEXT,
    ipsubnet         TEXT,
    defaultipgateway TEXT,
    dhcpserver       TEXT,
    mid              INTEGER,
    created_at       TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at       TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX network_adapters_mid_idx ON network_adapters (mid);

CREATE TABLE aggregate_values (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    memory_size REAL,
    cpu_numbers INTEGER,
    drive_size  REAL,
    available   TEXT,
    mid         INTEGER,
    created_at  TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at  TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX aggregate_values_mid_idx ON aggregate_values (mid);

CREATE TABLE softwares (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    displayName     TEXT,
    publisher       TEXT,
    version         TEXT,
    installLocation TEXT,
    unistallString  TEXT,
    mid             INTEGER,
    created_at      TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at      TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX softwares_mid_idx ON softwares (mid);

CREATE TABLE processes (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    pid        TEXT,
    name       TEXT,
    path       TEXT,
    mid        INTEGER,
    created_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX processes_mid_idx ON processes (mid);

CREATE TABLE environment_variables (
    id             INTEGER PRIMARY KEY AUTOINCREMENT,
    name           TEXT,
    systemvariable TEXT,
    variablevalue  TEXT,
    mid            INTEGER,
    created_at     TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at     TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX environment_variables_mid_idx ON environment_variables (mid);

CREATE TABLE os_services (
    id            INTEGER PRIMARY KEY AUTOINCREMENT,
    display_name  TEXT,
    name          TEXT,
    process_id    TEXT,
    path_name     TEXT,
    state         TEXT,
    start_mode    TEXT,
    error_control TEXT,
    mid           INTEGER,
    created_at    TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at    TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX os_services_mid_idx ON os_services (mid);

CREATE TABLE printers (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    caption    TEXT,
    name       TEXT,
    status     TEXT,
    sharename  TEXT,
    portname   TEXT,
    network    TEXT,
    shared     TEXT,
    mid        INTEGER,
    created_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX printers_mid_idx ON printers (mid);

CREATE TABLE start_up_applications (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    name        TEXT,
    description TEXT,
    command     TEXT,
    username    TEXT,
    location    TEXT,
    mid         INTEGER,
    created_at  TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at  TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX start_up_applications_mid_idx ON start_up_applications (mid);

CREATE TABLE updates (
    id                  INTEGER PRIMARY KEY AUTOINCREMENT,
    name                TEXT,
    status              TEXT,
    hotfixid            TEXT,
    caption             TEXT,
    InstalledOn         TEXT,
    ServicePackInEffect TEXT,
    mid                 INTEGER,
    created_at          TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at          TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX updates_mid_idx ON updates (mid);

CREATE TABLE os_users (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    caption    TEXT,
    domain     TEXT,
    fullname   TEXT,
    name       TEXT,
    mid        INTEGER,
    created_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX os_users_mid_idx ON os_users (mid);

CREATE TABLE shares (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    name        TEXT,
    description TEXT,
    caption     TEXT,
    path        TEXT,
    mid         INTEGER,
    created_at  TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at  TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX shares_mid_idx ON shares (mid);

CREATE TABLE monitorings (
    id                        INTEGER PRIMARY KEY AUTOINCREMENT,
    mid                       INTEGER,
    created_at                TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    updated_at                TEXT DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    cpuUsagePercentage        TEXT,
    memoryUsagePercentage     TEXT,
    numberOfProcess           TEXT,
    numberOfThread            TEXT,
    diskUsagePercentage       TEXT,
    netAdapterUsagePercentage TEXT,
    battery                   TEXT
);
CREATE INDEX monitorings_mid_idx ON monitorings (mid);


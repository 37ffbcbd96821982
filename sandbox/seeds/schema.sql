-- The sandbox's store: one SQLite database holding the system database TqSystem and the server's
-- own lists. Run by seedEmpty() and, after it, by every other seed; it starts the store afresh.
--
-- Tables of TqSystem (the catalogue the tool reads and purges). Every table that does not begin
-- with "sandbox_" or "sqlite_" is a table of TqSystem: the SQL side lists it in sysobjects and lets
-- statements name it. Declared types decide the types the client sees: int, smallint, bigint, bit,
-- float, datetime (ISO text, "2003-01-01 00:00:00.000"), nvarchar(N), varbinary(N) (a blob).
-- "int identity" makes an identity column (seed 1, increment 1): INSERT fills it unless the
-- session's SET IDENTITY_INSERT is ON for the table. A test may create more
-- tables of its own with the same conventions, or remove one with Engine::dropTable.
--
-- The server's own lists:
--   sandbox_databases(dbid, name, status, crdate, cmptlevel, filename, state)
--       one row per database; master.dbo.sysdatabases, DB_ID() and DATABASEPROPERTYEX read it.
--       state is what DATABASEPROPERTYEX(name, 'Status') answers: ONLINE, OFFLINE, RESTORING, ...
--   sandbox_files(dbid, fileid, name, filename, size)
--       the files of each database, size in 8 KB pages; master.dbo.sysaltfiles reads it.
-- Sessions (master.dbo.sysprocesses) live in the engine, not here.

DROP TABLE IF EXISTS sandbox_databases;
DROP TABLE IF EXISTS sandbox_files;
DROP TABLE IF EXISTS ua_account;
DROP TABLE IF EXISTS ua_period;
DROP TABLE IF EXISTS UA_holdauth;
DROP TABLE IF EXISTS UA_log;
DROP TABLE IF EXISTS Ua_Identity;
DROP TABLE IF EXISTS Ua_auth;
DROP TABLE IF EXISTS UA_BackupPlans;
DROP TABLE IF EXISTS UA_BackupLog;
DROP TABLE IF EXISTS UA_account_sub;
DROP TABLE IF EXISTS EAILog;

CREATE TABLE sandbox_databases (
    dbid INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    status INTEGER NOT NULL DEFAULT 65544,
    crdate TEXT NOT NULL DEFAULT '2003-06-01 09:00:00.000',
    cmptlevel INTEGER NOT NULL DEFAULT 80,
    filename TEXT,
    state TEXT NOT NULL DEFAULT 'ONLINE'
);
CREATE TABLE sandbox_files (
    dbid INTEGER NOT NULL,
    fileid INTEGER NOT NULL,
    name TEXT NOT NULL,
    filename TEXT NOT NULL,
    size INTEGER NOT NULL
);

CREATE TABLE ua_account (
    cacc_id nvarchar(12) NOT NULL,
    cacc_name nvarchar(60),
    cacc_path nvarchar(255),
    iyear int,
    imonth smallint,
    cacc_master nvarchar(20)
);
CREATE TABLE ua_period (
    cacc_id nvarchar(12) NOT NULL,
    iyear int NOT NULL,
    iperiod smallint NOT NULL,
    dbegin datetime,
    dend datetime,
    bflag bit
);
CREATE TABLE UA_holdauth (cacc_id nvarchar(12), cuser_id nvarchar(20), iyear int);
CREATE TABLE UA_log (cacc_id nvarchar(12), cuser_id nvarchar(20), ctask nvarchar(100), dtime datetime);
CREATE TABLE Ua_Identity (cacc_id nvarchar(12), cvouchtype nvarchar(20), ifatherid int);
CREATE TABLE Ua_auth (cacc_id nvarchar(12), cuser_id nvarchar(20), cauth_id nvarchar(20));
CREATE TABLE UA_BackupPlans (cacc_id nvarchar(12), cplan_name nvarchar(60), cpath nvarchar(255));
CREATE TABLE UA_BackupLog (cacc_id nvarchar(12), dbackup datetime, cfile nvarchar(255));
CREATE TABLE UA_account_sub (cacc_id nvarchar(12), csub_id nvarchar(10), iyear int, bclosing bit);
CREATE TABLE EAILog (id int identity NOT NULL, Ea_Account nvarchar(64), cmessage nvarchar(255), dtime datetime);

INSERT INTO sandbox_databases (dbid, name, status, filename) VALUES
    (1, 'master', 24, 'C:\SQLDATA\MSSQL\Data\master.mdf'),
    (2, 'tempdb', 8, 'C:\SQLDATA\MSSQL\Data\tempdb.mdf'),
    (3, 'model', 16, 'C:\SQLDATA\MSSQL\Data\model.mdf'),
    (4, 'msdb', 24, 'C:\SQLDATA\MSSQL\Data\msdbdata.mdf'),
    (5, 'TqSystem', 16, 'C:\SQLDATA\MSSQL\Data\TqSystem.mdf');
INSERT INTO sandbox_files (dbid, fileid, name, filename, size) VALUES
    (1, 1, 'master', 'C:\SQLDATA\MSSQL\Data\master.mdf', 1848),
    (1, 2, 'mastlog', 'C:\SQLDATA\MSSQL\Data\mastlog.ldf', 128),
    (2, 1, 'tempdev', 'C:\SQLDATA\MSSQL\Data\tempdb.mdf', 1024),
    (2, 2, 'templog', 'C:\SQLDATA\MSSQL\Data\templog.ldf', 64),
    (3, 1, 'modeldev', 'C:\SQLDATA\MSSQL\Data\model.mdf', 96),
    (3, 2, 'modellog', 'C:\SQLDATA\MSSQL\Data\modellog.ldf', 64),
    (4, 1, 'MSDBData', 'C:\SQLDATA\MSSQL\Data\msdbdata.mdf', 1760),
    (4, 2, 'MSDBLog', 'C:\SQLDATA\MSSQL\Data\msdblog.ldf', 256),
    (5, 1, 'TqSystem_Data', 'C:\SQLDATA\MSSQL\Data\TqSystem.mdf', 2560),
    (5, 2, 'TqSystem_Log', 'C:\SQLDATA\MSSQL\Data\TqSystem_log.ldf', 512);

-- The demo installation, run after schema.sql. Four account sets: 001 and 0010 side by side (so a
-- careless pattern for 001 would take 0010's rows), 002, and 003 whose name is Null. Years
-- 2002-2004 with twelve periods each and the 9999 rows the suite keeps; one yearly database per
-- account set and year; rows in every catalogue table, EAILog among them.

INSERT INTO ua_account (cacc_id, cacc_name, cacc_path, iyear, imonth, cacc_master) VALUES
    ('001', '示例帐套', 'C:\TqSoft\Admin\ZT001', 2002, 1, '张会计'),
    ('002', '演示公司', 'C:\TqSoft\Admin\ZT002', 2003, 1, '李主管'),
    ('003', NULL, 'C:\TqSoft\Admin\ZT003', 2004, 1, NULL),
    ('0010', '示例帐套分公司', 'C:\TqSoft\Admin\ZT0010', 2003, 7, '王出纳');

CREATE TEMP TABLE demo_years (cacc_id TEXT, iyear INTEGER);
INSERT INTO demo_years VALUES
    ('001', 2002), ('001', 2003), ('001', 2004),
    ('002', 2003), ('002', 2004),
    ('003', 2004),
    ('0010', 2003), ('0010', 2004);

WITH RECURSIVE months(m) AS (SELECT 1 UNION ALL SELECT m + 1 FROM months WHERE m < 12)
INSERT INTO ua_period (cacc_id, iyear, iperiod, dbegin, dend, bflag)
SELECT y.cacc_id, y.iyear, m,
       printf('%d-%02d-01 00:00:00.000', y.iyear, m),
       date(printf('%d-%02d-01', y.iyear, m), '+1 month', '-1 day') || ' 00:00:00.000',
       0
FROM demo_years y, months;
INSERT INTO ua_period (cacc_id, iyear, iperiod, dbegin, dend, bflag)
SELECT DISTINCT cacc_id, 9999, 1, NULL, NULL, 0 FROM demo_years;
INSERT INTO ua_period (cacc_id, iyear, iperiod, dbegin, dend, bflag)
SELECT DISTINCT cacc_id, 9999, 2, NULL, NULL, 0 FROM demo_years;

INSERT INTO sandbox_databases (dbid, name, filename)
SELECT 6 + (SELECT count(*) FROM demo_years d WHERE d.rowid < y.rowid),
       'tqdata_' || y.cacc_id || '_' || y.iyear,
       'C:\SQLDATA\MSSQL\Data\tqdata_' || y.cacc_id || '_' || y.iyear || '.mdf'
FROM demo_years y;
INSERT INTO sandbox_files (dbid, fileid, name, filename, size)
SELECT dbid, 1, name || '_Data', filename, 1280 + 128 * (dbid % 5) FROM sandbox_databases WHERE dbid > 5;
INSERT INTO sandbox_files (dbid, fileid, name, filename, size)
SELECT dbid, 2, name || '_Log', replace(filename, '.mdf', '_log.ldf'), 256 FROM sandbox_databases WHERE dbid > 5;

INSERT INTO UA_holdauth (cacc_id, cuser_id, iyear) SELECT cacc_id, 'demo', iyear FROM demo_years;
INSERT INTO UA_log (cacc_id, cuser_id, ctask, dtime)
SELECT cacc_id, 'admin', '年度结转', printf('%d-12-31 18:00:00.000', iyear) FROM demo_years;
INSERT INTO UA_log (cacc_id, cuser_id, ctask, dtime)
SELECT cacc_id, 'demo', '登录', printf('%d-01-05 08:30:00.000', iyear) FROM demo_years;
INSERT INTO Ua_Identity (cacc_id, cvouchtype, ifatherid)
SELECT DISTINCT cacc_id, '凭证', 0 FROM demo_years;
INSERT INTO Ua_auth (cacc_id, cuser_id, cauth_id)
SELECT DISTINCT cacc_id, 'demo', 'GL' FROM demo_years;
INSERT INTO Ua_auth (cacc_id, cuser_id, cauth_id)
SELECT DISTINCT cacc_id, 'demo', 'AR' FROM demo_years;
INSERT INTO UA_BackupPlans (cacc_id, cplan_name, cpath)
SELECT DISTINCT cacc_id, '每周备份', 'D:\Backup\' || cacc_id FROM demo_years;
INSERT INTO UA_BackupLog (cacc_id, dbackup, cfile)
SELECT cacc_id, printf('%d-06-30 22:00:00.000', iyear), 'D:\Backup\' || cacc_id || '\' || iyear || '.bak'
FROM demo_years;
INSERT INTO UA_account_sub (cacc_id, csub_id, iyear, bclosing) SELECT cacc_id, 'GL', iyear, 0 FROM demo_years;

INSERT INTO EAILog (id, Ea_Account, cmessage, dtime) VALUES
    (1, 'tqdata_001_2003', '凭证导入', '2003-03-01 10:00:00.000'),
    (2, 'tqdata_001', '帐套登记', '2002-01-01 09:00:00.000'),
    (3, 'tqdata_0010_2003', '凭证导入', '2003-08-01 10:00:00.000'),
    (4, 'tqdataX001', '外部系统', '2003-09-01 10:00:00.000'),
    (5, 'tqdata_002_2004', '凭证导入', '2004-02-01 10:00:00.000'),
    (6, 'TQDATA_001_2004', '凭证导入', '2004-02-02 10:00:00.000'),
    (7, 'tqdata_003_2004', '凭证导入', '2004-03-01 10:00:00.000');

DROP TABLE demo_years;

-- The modules' history on a shared PostgreSQL server, for QS730_View.
--
-- Run once by the database's owner (an administrator), in the database the
-- technicians' programs are set to:
--
--   createdb qs730_history
--   psql -d qs730_history -v ON_ERROR_STOP=1 -f history-server.sql
--
-- Then give each technician a login in the role qs730_technician, which may
-- add entries and read them, and may never change or delete one:
--
--   CREATE ROLE ivanov LOGIN PASSWORD '…' IN ROLE qs730_technician;
--
-- The tables follow the program's schema version 2.

BEGIN;

CREATE TABLE schema_version (version INTEGER NOT NULL);
INSERT INTO schema_version (version) VALUES (2);

CREATE TABLE entries (
    id BIGSERIAL PRIMARY KEY,
    uid TEXT NOT NULL UNIQUE,
    kind TEXT NOT NULL,
    registration TEXT NOT NULL,
    made TEXT NOT NULL,
    pc TEXT NOT NULL,
    technician TEXT NOT NULL,
    corrects TEXT NOT NULL DEFAULT '',
    summary TEXT NOT NULL,
    details TEXT NOT NULL,
    module_type INTEGER NOT NULL DEFAULT 0,
    file_name TEXT NOT NULL DEFAULT '',
    file_sha256 TEXT NOT NULL DEFAULT ''
);
CREATE INDEX entries_module ON entries (registration, made);
CREATE INDEX entries_fleet ON entries (registration, kind, made);
CREATE INDEX entries_kind ON entries (kind, registration);
CREATE INDEX entries_file ON entries (file_sha256);

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'qs730_technician') THEN
        CREATE ROLE qs730_technician NOLOGIN;
    END IF;
END
$$;

REVOKE ALL ON schema_version, entries FROM PUBLIC;
GRANT SELECT ON schema_version TO qs730_technician;
GRANT SELECT, INSERT ON entries TO qs730_technician;
GRANT USAGE ON SEQUENCE entries_id_seq TO qs730_technician;

COMMIT;

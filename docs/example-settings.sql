-- Settings prepared by an administrator before the operator's first start.
-- Load into a new application directory (see README, "Preparing settings"):
--   mkdir -p /opt/orvane-tarsel/data && chmod 700 /opt/orvane-tarsel/data
--   sqlite3 /opt/orvane-tarsel/data/velpdata < docs/example-settings.sql
--   chmod 600 /opt/orvane-tarsel/data/velpdata
-- Every value is text. Categories: 1 account, 2 outlink, 3 audio, 4 general.

-- The two tables exactly as the program creates them on a first start.
create table settings(Category varchar(2), Key varchar(255), Value varchar(255));
create table history(Id integer PRIMARY KEY autoincrement, Status char(1), PhoneNumber text, DialogTime varchar(8), DialogDate text, DeleteFlg char(1));

-- 1 account: the SIP account the phone registers with ...
INSERT INTO settings VALUES(1, 'address', 'sip.example.test');
INSERT INTO settings VALUES(1, 'port', '5060');
INSERT INTO settings VALUES(1, 'userId', '1001');
INSERT INTO settings VALUES(1, 'password', 'change-me');
-- Secure transport (see README, "Secure transport"): uncomment for SIP over TLS with
-- encrypted media; without these rows the phone uses UDP and plain RTP. With 'tls' an empty
-- port means 5061; tlsCaFile is relative to the application directory (absent: the system's
-- CAs); tlsVerify '0' accepts any server certificate and is unsafe.
-- INSERT INTO settings VALUES(1, 'transport', 'tls');
-- INSERT INTO settings VALUES(1, 'srtp', 'mandatory');
-- INSERT INTO settings VALUES(1, 'tlsCaFile', 'data/callcentre-ca.pem');
-- INSERT INTO settings VALUES(1, 'tlsVerify', '1');
-- ... and the call centre's CTI server (host[:port]; the status goes to
-- https://<operatorAddress>/quick/actions/cti.php when the account is saved).
INSERT INTO settings VALUES(1, 'operatorAddress', 'cti.example.test');
INSERT INTO settings VALUES(1, 'operatorId', 'op1001');
INSERT INTO settings VALUES(1, 'operatorPW', 'change-me-too');

-- 2 outlink: the caller's page that pops up with each incoming call. One "name=value" per
-- line; %CallerID%, %CallerName%, %CallId%, %MyId%, %OpeId% and %OpePW% are filled in.
INSERT INTO settings VALUES(2, 'simpleUrl', 'https://crm.example.test/popup');
INSERT INTO settings VALUES(2, 'simpleMethod', 'get');
INSERT INTO settings VALUES(2, 'simpleParams', 'tel=%CallerID%' || char(10) || 'name=%CallerName%' || char(10) || 'ext=%MyId%');
-- The page behind the popup's "詳細情報" button, opened in the web browser.
INSERT INTO settings VALUES(2, 'detailUrl', 'https://crm.example.test/customer');
INSERT INTO settings VALUES(2, 'detailMethod', 'get');
INSERT INTO settings VALUES(2, 'detailParams', 'tel=%CallerID%');

-- 3 audio: leave out; the operator picks the devices in the setting window (their names
-- depend on the machine: playback, ringback, capture, and captureGain 1-10).

-- 4 general
INSERT INTO settings VALUES(4, 'alwaysTop', '1');
INSERT INTO settings VALUES(4, 'debugModel', '0');
INSERT INTO settings VALUES(4, 'dalayHiddenRemoteWindow', '5');

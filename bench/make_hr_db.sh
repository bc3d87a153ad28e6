#!/usr/bin/env bash
# Builds an HR-shaped MySQL database for the benchmarks: six tables with keys and foreign keys,
# dates in every large table, in the proportions of the usual employees sample
#   employees      EMP rows      (emp_no key, two DATE, names, ENUM gender)
#   departments    9 rows        (CHAR key, unique name)
#   dept_emp       ~1.1 x EMP    (two-column key, foreign keys to both)
#   dept_manager   24 rows
#   titles         ~1.5 x EMP    (three-column key, a NULL-able DATE)
#   salaries       ~9.5 x EMP    (two-column key, INT, two DATE)
# With the default 300,024 employees that is about 3.9 million rows.
#
#   bench/make_hr_db.sh DATABASE [EMPLOYEES]
#
# Connects with the TEST_MYSQL_* variables (source the env file of scripts/test_servers.sh).
# The rows are the same for the same EMPLOYEES on every run.
set -euo pipefail
db=${1:?database name}
emp=${2:-300024}
[[ "$emp" =~ ^[0-9]+$ ]] && [ "$emp" -ge 24 ] || { echo "EMPLOYEES must be a whole number of at least 24" >&2; exit 1; }
last=$((10000 + emp))

mariadb --no-defaults -h "$TEST_MYSQL_HOST" -P "$TEST_MYSQL_PORT" -u "$TEST_MYSQL_USER" -p"$TEST_MYSQL_PASSWORD" <<SQL
DROP DATABASE IF EXISTS \`$db\`;
CREATE DATABASE \`$db\` CHARACTER SET utf8mb4;
USE \`$db\`;
SET SESSION unique_checks = 0, foreign_key_checks = 0;
CREATE TABLE employees (
    emp_no      INT             NOT NULL,
    birth_date  DATE            NOT NULL,
    first_name  VARCHAR(14)     NOT NULL,
    last_name   VARCHAR(16)     NOT NULL,
    gender      ENUM ('M','F')  NOT NULL,
    hire_date   DATE            NOT NULL,
    PRIMARY KEY (emp_no)
);
CREATE TABLE departments (
    dept_no     CHAR(4)         NOT NULL,
    dept_name   VARCHAR(40)     NOT NULL,
    PRIMARY KEY (dept_no),
    UNIQUE KEY (dept_name)
);
CREATE TABLE dept_manager (
   emp_no       INT             NOT NULL,
   dept_no      CHAR(4)         NOT NULL,
   from_date    DATE            NOT NULL,
   to_date      DATE            NOT NULL,
   FOREIGN KEY (emp_no)  REFERENCES employees (emp_no)    ON DELETE CASCADE,
   FOREIGN KEY (dept_no) REFERENCES departments (dept_no) ON DELETE CASCADE,
   PRIMARY KEY (emp_no,dept_no)
);
CREATE TABLE dept_emp (
    emp_no      INT             NOT NULL,
    dept_no     CHAR(4)         NOT NULL,
    from_date   DATE            NOT NULL,
    to_date     DATE            NOT NULL,
    FOREIGN KEY (emp_no)  REFERENCES employees   (emp_no)  ON DELETE CASCADE,
    FOREIGN KEY (dept_no) REFERENCES departments (dept_no) ON DELETE CASCADE,
    PRIMARY KEY (emp_no,dept_no)
);
CREATE TABLE titles (
    emp_no      INT             NOT NULL,
    title       VARCHAR(50)     NOT NULL,
    from_date   DATE            NOT NULL,
    to_date     DATE,
    FOREIGN KEY (emp_no) REFERENCES employees (emp_no) ON DELETE CASCADE,
    PRIMARY KEY (emp_no,title, from_date)
);
CREATE TABLE salaries (
    emp_no      INT             NOT NULL,
    salary      INT             NOT NULL,
    from_date   DATE            NOT NULL,
    to_date     DATE            NOT NULL,
    FOREIGN KEY (emp_no) REFERENCES employees (emp_no) ON DELETE CASCADE,
    PRIMARY KEY (emp_no, from_date)
);

INSERT INTO departments VALUES
  ('d001','Marketing'),('d002','Finance'),('d003','Human Resources'),('d004','Production'),
  ('d005','Development'),('d006','Quality Management'),('d007','Sales'),('d008','Research'),
  ('d009','Customer Service');

INSERT INTO employees
SELECT seq,
       '1952-02-01' + INTERVAL (seq * 7919) % 4700 DAY,
       ELT(1 + seq % 12, 'Georgi','Bezalel','Parto','Chirstian','Kyoichi','Anneke','Tzvetan',
           'Saniya','Sumant','Duangkaew','Mary','Patricio'),
       ELT(1 + (seq DIV 12) % 11, 'Facello','Simmel','Bamford','Koblick','Maliniak','Preusig',
           'Zielinski','Kalloufi','Peac','Piveteau','Sluis'),
       IF(seq % 5 < 3, 'M', 'F'),
       '1985-01-01' + INTERVAL (seq * 104729) % 5100 DAY
FROM seq_10001_to_$last;

INSERT INTO dept_emp
SELECT e.emp_no, CONCAT('d00', 1 + (e.emp_no + k.seq * 4) % 9),
       e.hire_date + INTERVAL (k.seq - 1) * 700 DAY,
       IF(k.seq = 1 + (e.emp_no % 10 = 0), '9999-01-01', e.hire_date + INTERVAL k.seq * 700 DAY)
FROM employees e JOIN seq_1_to_2 k ON k.seq <= 1 + (e.emp_no % 10 = 0);

INSERT INTO dept_manager
SELECT 10001 + (seq * 97) % $emp, CONCAT('d00', 1 + seq % 9), '1986-01-01' + INTERVAL seq * 300 DAY,
       IF(seq > 15, '9999-01-01', '1986-01-01' + INTERVAL (seq + 1) * 300 DAY)
FROM seq_0_to_23;

INSERT INTO titles
SELECT e.emp_no, ELT(k.seq, ELT(1 + e.emp_no % 4, 'Engineer', 'Staff', 'Assistant Engineer', 'Technique Leader'),
                           ELT(1 + e.emp_no % 3, 'Senior Engineer', 'Senior Staff', 'Manager')),
       e.hire_date + INTERVAL (k.seq - 1) * 2000 DAY,
       IF(k.seq = 1 + e.emp_no % 2, NULL, e.hire_date + INTERVAL k.seq * 2000 DAY)
FROM employees e JOIN seq_1_to_2 k ON k.seq <= 1 + e.emp_no % 2;

INSERT INTO salaries
SELECT e.emp_no, 38000 + (e.emp_no * 31 + k.seq * 2731) % 90000,
       e.hire_date + INTERVAL (k.seq - 1) YEAR,
       IF(k.seq = 1 + e.emp_no % 18, '9999-01-01', e.hire_date + INTERVAL k.seq YEAR)
FROM employees e JOIN seq_1_to_18 k ON k.seq <= 1 + e.emp_no % 18;
SQL

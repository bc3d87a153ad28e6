-- A small shop: the sample database of the demo. Keys, unique and plain
-- indexes, an index over two columns, varied column types, NULLs, defaults,
-- non-ASCII text and binary values.
DROP DATABASE IF EXISTS quindrel_demo;
CREATE DATABASE quindrel_demo CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;
USE quindrel_demo;

CREATE TABLE customers (
  id          INT UNSIGNED NOT NULL AUTO_INCREMENT,
  name        VARCHAR(100) NOT NULL,
  email       VARCHAR(190) NULL,
  city        VARCHAR(60)  NULL,
  birthday    DATE NULL,
  vip         TINYINT(1) NOT NULL DEFAULT 0,
  created_at  DATETIME NOT NULL DEFAULT CURRENT_TIMESTAMP,
  PRIMARY KEY (id),
  UNIQUE KEY uq_customers_email (email),
  KEY ix_customers_city_name (city, name)
) ENGINE=InnoDB;

INSERT INTO customers (id, name, email, city, birthday, vip, created_at) VALUES
  (1, 'Zoë Ångström',   'zoe@example.org',   'Malmö',     '1988-04-12', 1, '2024-01-05 09:15:00'),
  (2, 'José Núñez',     'jose@example.es',   'Córdoba',   NULL,         0, '2024-02-11 17:42:10'),
  (3, 'Мария Иванова',  NULL,                'Москва',    '1979-12-31', 0, '2024-03-01 00:00:01'),
  (4, '山田 太郎',        'taro@example.jp',   '東京',       '2001-07-07', 1, '2024-03-15 12:30:45'),
  (5, 'O''Connor, Seán', 'sean@example.ie',   NULL,        NULL,         0, '2024-04-20 08:05:59'),
  (8, 'Plain Smith',    'smith@example.com', 'Springfield','1990-02-28', 0, '2024-05-02 23:59:59');

CREATE TABLE products (
  sku         CHAR(8) NOT NULL,
  title       VARCHAR(120) NOT NULL,
  description TEXT NULL,
  price       DECIMAL(10,2) NOT NULL,
  weight_kg   DOUBLE NULL,
  stock       SMALLINT NOT NULL DEFAULT 0,
  thumbnail   BLOB NULL,
  PRIMARY KEY (sku),
  KEY ix_products_price (price)
) ENGINE=InnoDB;

INSERT INTO products VALUES
  ('A-100001', 'Kaffeebecher „Groß“', 'Steingut, 0,4 l\nspülmaschinenfest', 12.90, 0.45, 120, X'89504E470D0A1A0A'),
  ('A-100002', 'Tea towel',           'Tab\tseparated and a backslash \\ inside', 4.50, 0.08, 0, NULL),
  ('B-200001', 'Crème brûlée set',    NULL, 39.00, 1.2, 7, X''),
  ('B-200002', '€ coin holder',       'Holds 50 × 2 € coins', 0.99, NULL, 1000, X'00FF00FF');

CREATE TABLE orders (
  id          BIGINT NOT NULL AUTO_INCREMENT,
  customer_id INT UNSIGNED NOT NULL,
  ordered_on  DATE NOT NULL,
  ship_time   TIME NULL,
  status      VARCHAR(20) NOT NULL DEFAULT 'new',
  note        VARCHAR(255) NULL,
  PRIMARY KEY (id),
  KEY ix_orders_customer (customer_id),
  KEY ix_orders_date_status (ordered_on, status)
) ENGINE=InnoDB;

INSERT INTO orders VALUES
  (1, 1, '2024-06-01', '14:30:00', 'shipped',   'Leave at the door'),
  (2, 4, '2024-06-02', NULL,       'new',       NULL),
  (3, 2, '2024-06-03', '09:05:30', 'cancelled', 'Cliente pidió cancelación'),
  (7, 3, '2024-06-10', '18:00:00', 'shipped',   'Доставка до двери');

CREATE TABLE order_items (
  order_id    BIGINT NOT NULL,
  line_no     INT NOT NULL,
  sku         CHAR(8) NOT NULL,
  quantity    INT NOT NULL,
  unit_price  DECIMAL(10,2) NOT NULL,
  PRIMARY KEY (order_id, line_no),
  KEY ix_items_sku (sku)
) ENGINE=InnoDB;

INSERT INTO order_items VALUES
  (1, 1, 'A-100001', 2, 12.90),
  (1, 2, 'A-100002', 1, 4.50),
  (2, 1, 'B-200001', 1, 39.00),
  (3, 1, 'B-200002', 3, 0.99),
  (7, 1, 'A-100001', 1, 11.61),
  (7, 2, 'B-200002', 10, 0.99);
